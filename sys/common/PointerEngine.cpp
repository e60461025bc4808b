/*
 * PointerEngine.cpp - turns each valid touch packet into mouse reports.
 *
 * The raw position is mapped through the calibration in force to 0..65535 on both axes, the
 * user's mouse mode decides which packets become reports and with which left-button flags, a
 * held-still touch or the button switch tool turns a report into a right click, and the beep
 * thread is asked for a click sound. Everything here runs inside the read completion, one packet
 * at a time, at IRQL <= DISPATCH_LEVEL; nothing allocates, waits or takes a lock. The driver-wide
 * records are read with interlocked loads, since control codes replace them at any time.
 */
#include "TapDriver.h"

TAP_DRIVER_DATA Globals;

VOID StoreCalibration(const CalibrationData *Source)
{
    TapStore(Globals.ActiveCalibration.RawXStart, Source->RawXStart);
    TapStore(Globals.ActiveCalibration.RawXEnd, Source->RawXEnd);
    TapStore(Globals.ActiveCalibration.RawYStart, Source->RawYStart);
    TapStore(Globals.ActiveCalibration.RawYEnd, Source->RawYEnd);
    TapStore(Globals.ActiveCalibration.Orientation, Source->Orientation);
    TapStore(Globals.ActiveCalibration.ScreenWidth, Source->ScreenWidth);
    TapStore(Globals.ActiveCalibration.ScreenHeight, Source->ScreenHeight);
}

VOID LoadCalibration(PCalibrationData Copy)
{
    Copy->RawXStart = (LONG)TapLoad(Globals.ActiveCalibration.RawXStart);
    Copy->RawXEnd = (LONG)TapLoad(Globals.ActiveCalibration.RawXEnd);
    Copy->RawYStart = (LONG)TapLoad(Globals.ActiveCalibration.RawYStart);
    Copy->RawYEnd = (LONG)TapLoad(Globals.ActiveCalibration.RawYEnd);
    Copy->Orientation = (LONG)TapLoad(Globals.ActiveCalibration.Orientation);
    Copy->ScreenWidth = (LONG)TapLoad(Globals.ActiveCalibration.ScreenWidth);
    Copy->ScreenHeight = (LONG)TapLoad(Globals.ActiveCalibration.ScreenHeight);
}

/* The product's defaults of every settings field but the last (Enable), in registry order. */
static const ULONG DefaultSettings[] = TAP_PRODUCT_DEFAULT_SETTINGS;
static_assert(sizeof(DefaultSettings) / sizeof(DefaultSettings[0]) + 1 == TAP_SETTINGS_FIELD_COUNT,
              "a default for every settings field but Enable");

VOID SetDefaultParameters(VOID)
{
    CalibrationData calibration;
    ULONG i;

    PAGED_CODE();
    /* Other pairs' read paths may be running: one interlocked store per field. */
    for (i = 0; i + 1 < TAP_SETTINGS_FIELD_COUNT; i++) {
        TapStore(((PULONG)&Globals.Settings)[i], DefaultSettings[i]);
    }
    RtlZeroMemory(&calibration, sizeof(calibration));
    calibration.ScreenWidth = CALIBRATION_DEFAULT_SCREEN_WIDTH;
    calibration.ScreenHeight = CALIBRATION_DEFAULT_SCREEN_HEIGHT;
    StoreCalibration(&calibration);
}

/* Lower and upper bound of one calibrated raw axis, ordered as signed numbers: a calibration whose
 * edge lies beyond raw 0 (a negative value, as extrapolating from targets inside the screen can
 * give) still bounds the axis on that side. Ordered as unsigned numbers, such an edge would be a
 * huge bound, the raw value would not be clamped, and the mapping would leave 0..65535. */
static VOID AxisBounds(LONG Start, LONG End, PLONG Low, PLONG High)
{
    LONG first = Start / TAP_CALIBRATION_DIVISOR;
    LONG second = End / TAP_CALIBRATION_DIVISOR;
    *Low = first < second ? first : second;
    *High = first < second ? second : first;
}

/* Raw values are 0..65535, so they compare as signed numbers; a bound below 0 is kept as its
 * two's complement, which MapToAbsolute and the pixel mapping read back as signed. */
static VOID ClampAxis(PULONG Raw, LONG Low, LONG High)
{
    LONG value = (LONG)*Raw;

    if (value > High) {
        value = High;
    }
    if (value < Low) {
        value = Low;
    }
    *Raw = (ULONG)value;
}

VOID ClampToCalibration(const CalibrationData *Calibration, PULONG RawX, PULONG RawY)
{
    LONG low;
    LONG high;

    AxisBounds(Calibration->RawXStart, Calibration->RawXEnd, &low, &high);
    ClampAxis(RawX, low, high);
    AxisBounds(Calibration->RawYStart, Calibration->RawYEnd, &low, &high);
    ClampAxis(RawY, low, high);
}

static LONGLONG AbsoluteValue(LONGLONG Value)
{
    return Value < 0 ? -Value : Value;
}

/* |(To - From) * Scale| / |End - Start|. The product is formed in 64 bits, so a calibrated span
 * wider than 32768 raw units, or a large screen, maps exactly. Start and End must differ. */
static LONG ScaleAxis(LONG From, LONG To, LONG Start, LONG End, LONG Scale)
{
    LONGLONG product = AbsoluteValue(((LONGLONG)To - From) * Scale);
    return (LONG)(product / AbsoluteValue((LONGLONG)End - Start));
}

/* One raw axis divided by the calibration divisor, truncated toward zero. */
static LONG CalibratedRaw(LONG Value)
{
    return Value / TAP_CALIBRATION_DIVISOR;
}

BOOLEAN CalibrationSpansBothAxes(const CalibrationData *Calibration)
{
    return CalibratedRaw(Calibration->RawXStart) != CalibratedRaw(Calibration->RawXEnd) &&
           CalibratedRaw(Calibration->RawYStart) != CalibratedRaw(Calibration->RawYEnd);
}

VOID MapCalibrated(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, LONG Width, LONG Height, PLONG X,
                   PLONG Y)
{
    LONG a = CalibratedRaw(Calibration->RawXStart);
    LONG b = CalibratedRaw(Calibration->RawXEnd);
    LONG c = CalibratedRaw(Calibration->RawYStart);
    LONG d = CalibratedRaw(Calibration->RawYEnd);
    LONG x = (LONG)RawX;
    LONG y = (LONG)RawY;

    if (Calibration->Orientation == 1 || Calibration->Orientation == 3) {
        /* Axes swapped: raw X runs along the screen's vertical, from RawXEnd at the top. */
        if (a != b) {
            *Y = ScaleAxis(x, b, a, b, Height);
        }
        if (c != d) {
            *X = ScaleAxis(c, y, c, d, Width);
        }
    } else {
        if (a != b) {
            *X = ScaleAxis(a, x, a, b, Width);
        }
        if (c != d) {
            *Y = ScaleAxis(c, y, c, d, Height);
        }
    }
}

VOID MapToAbsolute(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, PMOUSE_INPUT_DATA InputData)
{
    MapCalibrated(Calibration, RawX, RawY, TAP_ABSOLUTE_SCALE, TAP_ABSOLUTE_SCALE, &InputData->LastX,
                  &InputData->LastY);
}

static ULONG RawDistance(ULONG Current, ULONG Previous)
{
    LONG difference = (LONG)(Current - Previous);
    return (ULONG)(difference < 0 ? -difference : difference);
}

/* TRUE when the pointer contact moved less than the still tolerance on both axes since the
 * previous packet. */
static BOOLEAN IsStillStep(const TAP_TOUCH_STATE *Touch)
{
    return RawDistance(TAP_PRODUCT_POINTER_X(Touch), TAP_PRODUCT_PREVIOUS_X(Touch)) < TAP_PRODUCT_STILL_TOLERANCE &&
           RawDistance(TAP_PRODUCT_POINTER_Y(Touch), TAP_PRODUCT_PREVIOUS_Y(Touch)) < TAP_PRODUCT_STILL_TOLERANCE;
}

/* Interactive hold: counts consecutive still packets and arms the right click when the user's
 * count is reached. A touch held still goes on producing a right click every InterActTime
 * packets. */
static VOID HoldTest(PMouseDeviceExtension Extension)
{
    ULONG interActTime = TapLoad(Globals.Settings.InterActTime);
    ULONG stillCount;

    if (interActTime == 0 || TapLoad(Globals.RightClickArmed)) {
        return;
    }
    stillCount = IsStillStep(&Extension->Touch) ? TapLoad(Globals.StillCount) + 1 : 0;
    if (stillCount >= interActTime) {
        stillCount = 0;
        TapStore(Globals.RightClickArmed, TRUE);
    }
    TapStore(Globals.StillCount, stillCount);
}

BOOLEAN ModeFilter(PMouseDeviceExtension Extension, PMOUSE_INPUT_DATA InputData,
                   const MOUSE_INPUT_DATA *LastReport)
{
    BOOLEAN down = (InputData->ButtonFlags & MOUSE_LEFT_BUTTON_DOWN) != 0;
    BOOLEAN up = (InputData->ButtonFlags & MOUSE_LEFT_BUTTON_UP) != 0;

    switch (TapLoad(Globals.Settings.MouseMode)) {
    case MODE_POINT_AND_CLICK:
        /* Only the touch-down and the lift; the lift clicks where the touch went down. */
        if (up) {
            InputData->LastX = LastReport->LastX;
            InputData->LastY = LastReport->LastY;
            return TRUE;
        }
        return down;
    case MODE_DRAG_THEN_CLICK:
        /* The cursor follows the finger; the lift becomes a click (the report step adds the
         * release). */
        if (down) {
            return FALSE;
        }
        if (up) {
            InputData->ButtonFlags = MOUSE_LEFT_BUTTON_DOWN;
        }
        return TRUE;
    case MODE_CLICK_AND_DRAG:
        return TRUE;
    case MODE_INTERACTIVE_TOUCH:
        HoldTest(Extension);
        return TRUE;
    default:
        return FALSE;
    }
}

VOID DeliverReport(PMouseDeviceExtension Extension)
{
    KIRQL oldIrql;
    ULONG consumed = 0;
    PVOID service = InterlockedCompareExchangePointer(&Extension->ClassService, NULL, NULL);

    /* A class driver that queried the attributes without connecting has nothing to call. The
     * connect stored ClassDevice before it published the service. */
    if (service == NULL) {
        return;
    }
    KeRaiseIrql(DISPATCH_LEVEL, &oldIrql);
    ((PSERVICE_CALLBACK_ROUTINE)service)(Extension->ClassDevice, &Extension->InputData, &Extension->InputData + 1,
                                         &consumed);
    KeLowerIrql(oldIrql);
}

VOID SignalBeep(PMouseDeviceExtension Extension)
{
    /* Without a beep thread nobody would ever answer the event. */
    if (Extension->BeepThread != NULL) {
        KeSetEvent(&Extension->BeepEvent, IO_NO_INCREMENT, FALSE);
    }
}

static BOOLEAN BeepModeWants(ULONG BeepMode, ULONG ButtonFlags)
{
    return (BeepMode == BEEP_ON_TOUCH && (ButtonFlags & MOUSE_LEFT_BUTTON_DOWN)) ||
           (BeepMode == BEEP_ON_RELEASE && (ButtonFlags & MOUSE_LEFT_BUTTON_UP));
}

static VOID DeliverRightClick(PMouseDeviceExtension Extension)
{
    static const USHORT sequence[] = TAP_PRODUCT_RIGHT_CLICK_SEQUENCE;
    ULONG i;

    for (i = 0; i < sizeof(sequence) / sizeof(sequence[0]); i++) {
        Extension->InputData.ButtonFlags = sequence[i];
        DeliverReport(Extension);
    }
    TapStore(Globals.RightClickArmed, FALSE);
}

VOID ReportPacket(PMouseDeviceExtension Extension)
{
    PMOUSE_INPUT_DATA input = &Extension->InputData;
    BOOLEAN dragThenClick = TapLoad(Globals.Settings.MouseMode) == MODE_DRAG_THEN_CLICK;
    ULONG beepMode = TapLoad(Globals.Settings.BeepMode);

    if (TapLoad(Extension->AttributesQueried) && ModeFilter(Extension, input, &Extension->LastReport)) {
        if (TapLoad(Globals.RightClickArmed)) {
            /* No beep follows a right click: the flags now hold right up. */
            DeliverRightClick(Extension);
        } else {
            DeliverReport(Extension);
            if (dragThenClick && (input->ButtonFlags & MOUSE_LEFT_BUTTON_DOWN)) {
                input->ButtonFlags = MOUSE_LEFT_BUTTON_UP;
                DeliverReport(Extension);
                if (beepMode == BEEP_ON_TOUCH || beepMode == BEEP_ON_RELEASE) {
                    SignalBeep(Extension);
                }
            }
        }
        Extension->LastReport = *input;
        if (!dragThenClick && BeepModeWants(beepMode, input->ButtonFlags)) {
            SignalBeep(Extension);
        }
    }
    /* A packet without a transition carries no button flag. */
    input->Buttons = 0;
}
