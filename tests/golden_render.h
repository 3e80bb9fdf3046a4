#pragma once
// An offline render of a whole scripted performance: the real mixer callback, the real preset
// and scenes, driven through the input and clock seams by a script of timed key presses,
// pointer moves, clicks and holds. Nothing depends on the wall clock or on thread timing (the
// recorder's writer is drained where the script says), so every run gives the same results.
//
// The script (tests/golden/performance.txt) has one command per line, "TIME COMMAND ARGS",
// TIME in seconds on the clock of the stream that plays; a new buffer size opens a new stream,
// whose clock starts again at 0. Pointer coordinates are window pixels, y up. Commands:
//   startup                  the start-up sound and the menu theme's fade-in
//   key up|down|return|escape  a key press handled by the current scene
//   move X Y                 pointer to (X, Y)
//   click X Y / rclick X Y   left / right press at (X, Y), released 30 ms later
//   shiftclick X Y           left press with Shift held, released 30 ms later
//   hold X Y SECONDS         left press at (X, Y) held for SECONDS
//   frame NAME               records the picture the program would show now
//   drain                    waits until the recorder's writer has handled all it was given
//   limit BYTES|none         the largest data a later recording's file may take
//   end                      the render ends here
//   expect ...               a note for the goldens' report; the render ignores it

#include <map>
#include <string>
#include <vector>

struct GoldenRender {
  // Pad names in the order of the game screen's pad list, as the tables name them.
  static const std::vector<std::string>& PadNames();

  std::vector<double> mix;            // interleaved stereo, both streams back to back
  std::vector<long> streamStarts;     // frame of mix where each stream begins
  std::vector<std::string> frames;    // "== frame NAME at T ==" + the draw list as text
  std::vector<std::string> listsDisagree;  // moments whose list compares otherwise than its text
  std::vector<double> take;           // the first take's buffers, interleaved stereo
  std::string takeFile;               // the first take's file as written
  std::vector<std::string> takeNames;   // the recordings' file names, in order
  std::string padTable;               // per pad and step: peak, sum, onset, pitch
};

// Renders the performance of scriptPath. The working directory holds MarluneContent/.
GoldenRender RenderPerformance(const std::string& scriptPath);

// The 16-bit stereo WAV file holding interleaved samples (full scale +-1) at 44100 Hz.
std::string WavBytes(const std::vector<double>& interleaved);
