#pragma once

#include <functional>

namespace ufd {

// The system beep (QApplication::beep), or the installed handler.
void Beep();
void SetBeepHandler(std::function<void()> handler);

} // namespace ufd
