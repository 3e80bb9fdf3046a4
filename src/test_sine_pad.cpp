#include "test_sine_pad.h"

#include <SDL_opengl.h>

#include "common.h"

TestSinePad::TestSinePad(float x, float y, float w, float h) : MonoSoundPad(x, y, w, h) {
  sine_.setFrequency(kStartFrequency);
}

void TestSinePad::MonoAudioCallback(double* buffer, unsigned int nFrames, double /*streamTime*/) {
  if (MouseWithin(x, y, width, height) && MouseLeftButton()) {
    const float fx = (static_cast<float>(MouseX()) - x) / width;
    const float amplitude = (static_cast<float>(MouseY()) - y) / height;
    sine_.setFrequency(kStartFrequency + fx * kStartFrequency);
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = sine_.tick() * amplitude;
    return;
  }
  // Silent: the oscillator keeps its phase for the next press.
  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.0;
}

void TestSinePad::Draw() {
  glColor3f(1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glVertex2f(x, y);
  glVertex2f(x, y + height);
  glVertex2f(x + width, y + height);
  glVertex2f(x + width, y);
  glEnd();
}
