// Styled push buttons at 144 DPI: pen 2 px, radii and the pressed offset scaled by 1.5.
constexpr int kExpectedDpi = 144;
#include "button_checks.h"
#include "button_mnemonic_checks.h"
