// A tiny loadable module for the loader's tests: a global that starts at zero in every load.
extern "C" int ProbeCounter;
int ProbeCounter = 0;

extern "C" int ProbeIncrement()
{
    return ++ProbeCounter;
}
