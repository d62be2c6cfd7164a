#pragma once
// What the header that widl makes of marvolt_lib.idl imports: the system's own
// declarations of IUnknown and IDispatch.
#include <oaidl.h>
