/*
 * Parameters.cpp - the driver's parameters under its service key's Parameters subkey.
 *
 * Read once per AddDevice into the driver-wide Settings and ActiveCalibration. Each value is read
 * by its exact data length whatever its registry type; a missing value, or one of another length,
 * leaves the default (or the earlier value) in force.
 */
#include "TapDriver.h"

/* Parameter value names in the order of the PointerSettings fields. */
static const PCWSTR SettingValueNames[] = TAP_PRODUCT_SETTING_VALUE_NAMES;
static_assert(sizeof(SettingValueNames) / sizeof(SettingValueNames[0]) == TAP_SETTINGS_FIELD_COUNT,
              "one value name per settings field");

/* Room for the subkey name "Parameters" and its terminating NUL. */
#define PARAMETERS_NAME_BUFFER_SIZE 24

/* The fixed part of KEY_VALUE_FULL_INFORMATION that precedes the name and the data. */
#define VALUE_INFORMATION_OVERHEAD 24

/* PASSIVE_LEVEL. The value buffer comes from paged pool and is freed before return. */
NTSTATUS QueryParameterValue(HANDLE Key, PCWSTR Name, PVOID Destination, ULONG Length)
{
    UNICODE_STRING valueName;
    PKEY_VALUE_FULL_INFORMATION information;
    ULONG size;
    ULONG resultLength = 0;
    NTSTATUS status;

    PAGED_CODE();
    RtlInitUnicodeString(&valueName, Name);
    size = valueName.Length + sizeof(WCHAR) + Length + VALUE_INFORMATION_OVERHEAD;
    information = (PKEY_VALUE_FULL_INFORMATION)ExAllocatePoolWithTag(PagedPool, size, TAP_POOL_TAG);
    if (information == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    status = ZwQueryValueKey(Key, &valueName, KeyValueFullInformation, information, size, &resultLength);
    if (NT_SUCCESS(status)) {
        /* The data must be exactly the expected length and lie inside what the query returned. */
        if (information->DataLength == Length && information->DataOffset <= size &&
            Length <= size - information->DataOffset) {
            RtlCopyMemory(Destination, (PUCHAR)information + information->DataOffset, Length);
        } else {
            status = STATUS_UNSUCCESSFUL;
        }
    }
    ExFreePoolWithTag(information, TAP_POOL_TAG);
    return status;
}

/* PASSIVE_LEVEL, from AddDevice. Replaces the driver-wide records for every pair. */
NTSTATUS ReadParameters(VOID)
{
    UNICODE_STRING subkeyName;
    OBJECT_ATTRIBUTES attributes;
    HANDLE serviceKey = NULL;
    HANDLE parametersKey = NULL;
    PWSTR nameBuffer;
    CalibrationData calibration;
    ULONG value;
    ULONG i;

    PAGED_CODE();
    SetDefaultParameters();

    nameBuffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, PARAMETERS_NAME_BUFFER_SIZE, TAP_POOL_TAG);
    if (nameBuffer == NULL) {
        return STATUS_UNSUCCESSFUL;
    }
    RtlZeroMemory(nameBuffer, PARAMETERS_NAME_BUFFER_SIZE);
    subkeyName.Buffer = nameBuffer;
    subkeyName.Length = 0;
    subkeyName.MaximumLength = PARAMETERS_NAME_BUFFER_SIZE;
    RtlAppendUnicodeToString(&subkeyName, TAP_PARAMETERS_SUBKEY_W);

    InitializeObjectAttributes(&attributes, &Globals.ServiceRegistryPath, OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&serviceKey, KEY_ALL_ACCESS, &attributes))) {
        serviceKey = NULL;
        goto Done;
    }
    InitializeObjectAttributes(&attributes, &subkeyName, OBJ_CASE_INSENSITIVE, serviceKey, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&parametersKey, KEY_ALL_ACCESS, &attributes))) {
        parametersKey = NULL;
        goto Done;
    }

    for (i = 0; i < TAP_SETTINGS_FIELD_COUNT; i++) {
        if (NT_SUCCESS(QueryParameterValue(parametersKey, SettingValueNames[i], &value, sizeof(value)))) {
            TapStore(((PULONG)&Globals.Settings)[i], value);
        }
    }
    if (NT_SUCCESS(QueryParameterValue(parametersKey, TAP_VALUE_CALIBRATION_W, &calibration, sizeof(calibration)))) {
        StoreCalibration(&calibration);
    }

Done:
    if (parametersKey != NULL) {
        ZwClose(parametersKey);
    }
    if (serviceKey != NULL) {
        ZwClose(serviceKey);
    }
    ExFreePoolWithTag(nameBuffer, TAP_POOL_TAG);
    return STATUS_SUCCESS;
}
