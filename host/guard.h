// mirax's watch over the module: what the module is running (the hand-shake, a button, a visit
// callback, the termination) and the last host call answered, so that a crash, an abort, an
// uncaught exception, exit() or a hang inside the module ends the run with a message naming the
// button and a status of its own. The watch stays in mirax's process: the module runs in it as
// in the CAD host, and the call trace, written and flushed a line per call, holds every call up
// to the end.
#pragma once
#include <string>

namespace mirax::guard {

// Installs the handlers for the whole process (mirax's main calls it once; in-process users of
// the session do not): crashes, abort(), an uncaught exception raised by the module, and exit()
// called while the module runs.
void install();

// Names what the module runs from now on ("the hand-shake", "the button MENU/BUTTON", ...); an
// empty name: mirax's own code runs.
void enter(const std::string& activity);
void leave();
// Marks a visit callback of the module running inside the host call `visit` (an exception in it
// is the module's misbehaviour).
class CallbackScope {
 public:
  explicit CallbackScope(const char* visit);
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

 private:
  const char* outer_;
};

// A host call answered (`symbol`: static storage).
void answered(const char* symbol, int call);
void reset_answered();
// "; the host last answered NAME call N" or "; the host had answered no call".
std::string last_answered();
// What the module runs now, as enter() named it.
std::string activity();

// Ends the run with kExitTimeout unless disarm() comes within `seconds` (0: no limit).
void arm(int seconds);
void disarm();

// The message of an exception leaving a visit callback.
std::string callback_exception_message(const char* visit, const std::string& text);

}  // namespace mirax::guard
