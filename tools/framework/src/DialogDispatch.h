// The window procedure the backend calls for a framework dialog: it hands every message to the
// dialog's Dispatch, which picks the handler.
#pragma once

#include "tap/ui/backend/System.h"
#include "tap/ui/Dialog.h"

namespace tap::ui::detail {

class DialogDispatch final : public sys::MessageTarget {
public:
    explicit DialogDispatch(Dialog& dialog) : dialog_(dialog) {}
    intptr_t Dispatch(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;

private:
    Dialog& dialog_;
};

} // namespace tap::ui::detail
