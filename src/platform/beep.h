#pragma once

#include <functional>

namespace ufd {

// What a beep came out as.
enum class BeepSound {
    Handler, // the installed handler took it
    Tone,    // a tone through the sound system
    Bell,    // the display's bell: no sound device to play on
    None,    // no GUI application, nothing to beep with
};

// The system beep: a short tone on the default sound output, else the bell
// (QApplication::beep); or the installed handler. It returns at once; the
// tone plays on while the caller waits.
BeepSound Beep();
void SetBeepHandler(std::function<void()> handler);

} // namespace ufd
