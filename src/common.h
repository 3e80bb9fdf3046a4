#pragma once
// Free helpers shared across the program: fatal errors, image-surface helpers, the version
// label, loop timing, pointer input and small numeric functions.

#include <SDL.h>

#include <cstdint>
#include <string>

// "1.03": shown in the window title and the version label.
extern const char* MARLUNE_VERSION;

// Prints "Error:<message>" to standard error and exits with status 1. Never returns.
[[noreturn]] void FatalError(std::string message);

// True when an entry of that name exists: a file, a folder or a link (even one that leads
// nowhere).
bool FileExists(std::string path);

// ---- Image surfaces (main thread) ----

// 1 for n below 2, otherwise the smallest power of two not below n.
int PadToPowerOfTwo(int n);
// Copies source into the top-left corner of destination upside down: source row r lands in
// destination row (source height - 1 - r). False if a row copy fails.
bool VerticalFlip(SDL_Surface* source, SDL_Surface* destination);
// Draws "Marlune v1.03" at the window's bottom-left corner. Main thread.
void DrawVersionNumber();

// ---- Loop timing (any thread; all times are stream time in seconds) ----

// Step of the loop that contains t.
int TimeToStep(double t);
// True when t lies in another step than the previous audio buffer's stream time.
bool StepChange(double t);
// True when t lies less than the late window after the start of its step.
bool LateTimingWindow(double t);
// True when t lies on a beat's first step that has just begun or is inside the late window.
bool BeatWindow(double t);
// Whole sample frames spanned by a (fractional) number of steps at the stream's rate.
int64_t StepsToSamples(double steps);
// Equal-tempered frequency in Hz of a MIDI key (69 is 440 Hz).
double KeyToFrequency(int key);

// ---- Events (main thread) ----

// Reads what the window system has queued and drops it all (input made while the program
// could not answer: loading, a new game's set-up), but a request to quit (the window closed),
// which is queued again so the frame loop acts on it. The read is explicit, so a caller inside
// its own polling round (which reads only once per round) still sees the latest events.
void DropQueuedInput();

// ---- Pointer input (window pixels, origin bottom-left, y up) ----
// On the audio thread, inside a buffer, every helper reads the pointer position, buttons and
// Shift sampled together at the buffer's start, and the click helpers report the presses
// recorded since the previous buffer (pointer_sample.h). Elsewhere (drawing on the main
// thread) the live-state helpers read the live state.

int MouseX();
// 600 - SDL's y: 600 on the top pixel row, 1 on the bottom one.
int MouseY();
// True when the pointer lies in the rectangle, both edges inclusive.
bool MouseWithin(float x, float y, float w, float h);
// Left button down and no Shift.
bool MouseLeftButton();
// Right button down, or left button down with Shift.
bool MouseRightButton();
// A left press (no Shift) recorded since the previous buffer, even if already released.
bool MouseLeftClick();
// A left press (no Shift) recorded since the previous buffer at a point of the rectangle
// (both edges inclusive).
bool MouseLeftClickWithin(float x, float y, float w, float h);
// Left button released since the previous audio buffer.
bool MouseLeftUnclick();
// A right press (or Shift + left) recorded since the previous buffer.
bool MouseRightClick();

// ---- Numeric helpers ----

int clamp(int value, int low, int high);
float clampf(float value, float low, float high);
// Blend of two colours, t limited to 0..1; alpha 0.
SDL_Color ColorBlend(SDL_Color from, SDL_Color to, float t);
// Scales (x, y) in place to the given length; a zero vector is left unchanged.
void NormalizeVector(float* x, float* y, float length);
float Distance(float x1, float y1, float x2, float y2);
// Uniform value in [low, high] from rand().
float RandomFloat(float low, float high);
