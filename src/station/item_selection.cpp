// Item selection: Check WP is never run together with the other items.
#include "station/station_form.h"

#include "station/widget_helpers.h"

namespace ufd {

void TestFrm::Check1_Click(int16_t index) {
    if (!Ticked(Check1(index))) {
        return;
    }
    if (index == kItemCheckWP) {
        for (int i : {kItemFormat, kItemManufacture, kItem1M, kItemCheckConfig}) {
            SetTicked(Check1(i), false);
        }
    } else {
        SetTicked(Check1(kItemCheckWP), false);
    }
}

} // namespace ufd
