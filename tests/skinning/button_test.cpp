// Styled push buttons at 96 DPI.
constexpr int kExpectedDpi = 96;
#include "button_checks.h"
#include "button_mnemonic_checks.h"
