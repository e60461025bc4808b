// Run-time library: memory comparison and counted UTF-16 strings. The host's wide-character C
// functions assume a 32-bit wchar_t, so nothing here uses them.
#include "KernelState.h"

namespace {

size_t WideLength(PCWSTR text)
{
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

NTSTATUS Append(PUNICODE_STRING destination, const WCHAR *source, size_t bytes)
{
    if (bytes == 0) {
        return STATUS_SUCCESS;
    }
    if (destination->Length + bytes > destination->MaximumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    memmove(reinterpret_cast<char *>(destination->Buffer) + destination->Length, source, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength) {
        destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
    }
    return STATUS_SUCCESS;
}

} // namespace

extern "C" SIZE_T NTAPI RtlCompareMemory(const VOID *source1, const VOID *source2, SIZE_T length)
{
    auto *a = static_cast<const UCHAR *>(source1);
    auto *b = static_cast<const UCHAR *>(source2);
    SIZE_T same = 0;
    while (same < length && a[same] == b[same]) {
        ++same;
    }
    return same;
}

extern "C" VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source)
{
    destination->Buffer = const_cast<PWSTR>(source);
    if (source == nullptr) {
        destination->Length = 0;
        destination->MaximumLength = 0;
        return;
    }
    size_t bytes = WideLength(source) * sizeof(WCHAR);
    if (bytes > 0xFFFC) {
        tapkernel::BugCheck("RtlInitUnicodeString", "string of %zu bytes is longer than a UNICODE_STRING holds", bytes);
    }
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

extern "C" VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    if (source == nullptr) {
        destination->Length = 0;
        return;
    }
    USHORT bytes = source->Length < destination->MaximumLength ? source->Length : destination->MaximumLength;
    memmove(destination->Buffer, source->Buffer, bytes);
    destination->Length = bytes;
    if (bytes + sizeof(WCHAR) <= destination->MaximumLength) {
        destination->Buffer[bytes / sizeof(WCHAR)] = 0;
    }
}

extern "C" NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    if (source == nullptr) {
        return STATUS_SUCCESS;
    }
    return Append(destination, source, WideLength(source) * sizeof(WCHAR));
}

extern "C" NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    return Append(destination, source->Buffer, source->Length);
}

extern "C" NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string)
{
    if (base == 0) {
        base = 10;
    }
    if (base != 2 && base != 8 && base != 10 && base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    WCHAR digits[33];
    size_t count = 0;
    do {
        ULONG digit = value % base;
        digits[count++] = static_cast<WCHAR>(digit < 10 ? L'0' + digit : L'A' + digit - 10);
        value /= base;
    } while (value != 0);
    size_t bytes = count * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > string->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW; // the digits and their NUL must fit
    }
    for (size_t i = 0; i < count; ++i) {
        string->Buffer[i] = digits[count - 1 - i];
    }
    string->Buffer[count] = 0;
    string->Length = static_cast<USHORT>(bytes);
    return STATUS_SUCCESS;
}

extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2, BOOLEAN caseInSensitive)
{
    if (string1->Length != string2->Length) {
        return FALSE;
    }
    size_t count = string1->Length / sizeof(WCHAR);
    for (size_t i = 0; i < count; ++i) {
        WCHAR a = string1->Buffer[i];
        WCHAR b = string2->Buffer[i];
        if (caseInSensitive ? tapkernel::UpcaseChar(a) != tapkernel::UpcaseChar(b) : a != b) {
            return FALSE;
        }
    }
    return TRUE;
}

extern "C" LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                              BOOLEAN caseInSensitive)
{
    size_t count1 = string1->Length / sizeof(WCHAR);
    size_t count2 = string2->Length / sizeof(WCHAR);
    for (size_t i = 0; i < count1 && i < count2; ++i) {
        WCHAR a = caseInSensitive ? tapkernel::UpcaseChar(string1->Buffer[i]) : string1->Buffer[i];
        WCHAR b = caseInSensitive ? tapkernel::UpcaseChar(string2->Buffer[i]) : string2->Buffer[i];
        if (a != b) {
            return static_cast<LONG>(a) - static_cast<LONG>(b);
        }
    }
    return static_cast<LONG>(count1) - static_cast<LONG>(count2);
}

extern "C" VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING string)
{
    if (string->Buffer != nullptr) {
        ExFreePool(string->Buffer);
    }
    string->Buffer = nullptr;
    string->Length = 0;
    string->MaximumLength = 0;
}
