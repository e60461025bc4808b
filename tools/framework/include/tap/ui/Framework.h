// The tools' application framework, all of it.
#pragma once

#include "tap/ui/Application.h"
#include "tap/ui/Controls.h"
#include "tap/ui/Dialog.h"
#include "tap/ui/Gdi.h"
#include "tap/ui/PropertySheet.h"
#include "tap/ui/Types.h"
#include "tap/ui/Window.h"
