#include "test_sine_pad.h"

#include "common.h"
#include "draw_list.h"

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
  draw::Color(1.0f, 1.0f, 1.0f);
  draw::Begin(GL_QUADS);
  draw::QuadVertices(x, y, x + width, y + height);
  draw::End();
}
