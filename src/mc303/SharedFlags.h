// The process-wide flags that tie the handlers together. One instance, owned by the
// program (or the command-line front end) and handed to every module; all of it lives
// on the user-interface thread.
#pragma once

namespace mc303 {

struct SharedFlags {
  bool QuitRequested = false;    // the program is to end; long loops test it
  bool RecordingActive = false;  // a capture, a reload or a transmit runs: log and report
  bool AbortRequested = false;   // Yes to the progress window's abort question
};

}  // namespace mc303
