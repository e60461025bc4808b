// Kernel events: notification events stay signalled until cleared, synchronization events are
// cleared by the wait they satisfy.
#include <wdm.h>

extern "C" VOID NTAPI KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    event->Header.Type = static_cast<UCHAR>(type);
    __atomic_store_n(&event->Header.SignalState, state ? 1 : 0, __ATOMIC_SEQ_CST);
    event->Header.WaitListHead.Flink = &event->Header.WaitListHead;
    event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

extern "C" LONG NTAPI KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
    return __atomic_exchange_n(&event->Header.SignalState, 1, __ATOMIC_SEQ_CST);
}

extern "C" VOID NTAPI KeClearEvent(PRKEVENT event)
{
    __atomic_store_n(&event->Header.SignalState, 0, __ATOMIC_SEQ_CST);
}

extern "C" LONG NTAPI KeReadStateEvent(PRKEVENT event)
{
    return __atomic_load_n(&event->Header.SignalState, __ATOMIC_SEQ_CST);
}
