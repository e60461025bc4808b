// Named devices, symbolic links, device stacks and opening devices: what a driver that opens a COM
// port or the beep device, and a tool that opens a control device, rely on.
#include <thread>
#include <vector>

#include "KernelFixture.h"

using namespace kerneltest;

namespace {

class ObjectTest : public KernelFixture {
protected:
    // A device that records the major function of every request and completes it.
    PDEVICE_OBJECT RecordingDevice(const wchar_t *name, std::vector<UCHAR> *majors, bool exclusive = false)
    {
        return CreateDevice(
            [majors](PDEVICE_OBJECT, PIRP irp) {
                majors->push_back(IoGetCurrentIrpStackLocation(irp)->MajorFunction);
                return Complete(irp, STATUS_SUCCESS);
            },
            name, exclusive);
    }
};

TEST_F(ObjectTest, SecondDeviceOfTheSameNameCollidesUntilTheFirstIsDeleted)
{
    std::vector<UCHAR> majors;
    PDEVICE_OBJECT first = RecordingDevice(L"\\Device\\Monotap0", &majors);
    UNICODE_STRING name = Name(L"\\Device\\MONOTAP0");
    PDEVICE_OBJECT second = nullptr;
    EXPECT_EQ(STATUS_OBJECT_NAME_COLLISION, IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &second));
    EXPECT_EQ(nullptr, second);

    IoDeleteDevice(first);
    EXPECT_EQ(STATUS_SUCCESS, IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &second));
    IoDeleteDevice(second);

    UNICODE_STRING nowhere = Name(L"\\NoSuchDirectory\\X");
    EXPECT_EQ(STATUS_OBJECT_PATH_NOT_FOUND, IoCreateDevice(driver, 0, &nowhere, FILE_DEVICE_UNKNOWN, 0, FALSE, &second));
}

TEST_F(ObjectTest, DosDevicesAndQuestionMarkDirectoryAreOneDirectory)
{
    std::vector<UCHAR> majors;
    PDEVICE_OBJECT serial = RecordingDevice(L"\\Device\\Serial1", &majors);
    UNICODE_STRING link = Name(L"\\??\\COM2");
    UNICODE_STRING target = Name(L"\\Device\\Serial1");
    ASSERT_EQ(STATUS_SUCCESS, IoCreateSymbolicLink(&link, &target));

    UNICODE_STRING dosLink = Name(L"\\DosDevices\\com2");
    EXPECT_EQ(STATUS_OBJECT_NAME_COLLISION, IoCreateSymbolicLink(&dosLink, &target));
    EXPECT_EQ(serial, kernel->FindDevice(u"\\DosDevices\\COM2"));

    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&dosLink, FILE_ALL_ACCESS, &file, &device));
    EXPECT_EQ(serial, device);
    ObDereferenceObject(file);

    EXPECT_EQ(STATUS_SUCCESS, IoDeleteSymbolicLink(&dosLink));
    EXPECT_FALSE(kernel->LinkTarget(u"\\??\\COM2").has_value());
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, IoDeleteSymbolicLink(&link));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, IoGetDeviceObjectPointer(&dosLink, FILE_ALL_ACCESS, &file, &device));
}

TEST_F(ObjectTest, DeviceObjectPointerOpensTheTopOfTheStackAndClosesOnTheLastReference)
{
    std::vector<UCHAR> named;
    std::vector<UCHAR> top;
    PDEVICE_OBJECT beep = RecordingDevice(L"\\Device\\Beep", &named);
    PDEVICE_OBJECT filter = CreateFilter(beep, [&](PDEVICE_OBJECT, PIRP irp) {
        top.push_back(IoGetCurrentIrpStackLocation(irp)->MajorFunction);
        return Complete(irp, STATUS_SUCCESS);
    });
    UNICODE_STRING name = Name(L"\\Device\\Beep");
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device));
    EXPECT_EQ(filter, device);
    EXPECT_EQ(beep, file->DeviceObject);
    EXPECT_EQ(1, beep->ReferenceCount);
    // The open's handle is closed inside the call: create, then cleanup.
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP}), top);
    EXPECT_TRUE(named.empty());

    ObReferenceObject(device);
    ObDereferenceObject(file);
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}), top);
    EXPECT_EQ(0, beep->ReferenceCount);
    ObDereferenceObject(device);
}

TEST_F(ObjectTest, ExclusiveDeviceAdmitsOneOpenAtATime)
{
    std::vector<UCHAR> majors;
    RecordingDevice(L"\\Device\\Serial0", &majors, true);
    UNICODE_STRING name = Name(L"\\Device\\Serial0");
    PFILE_OBJECT first = nullptr;
    PFILE_OBJECT second = nullptr;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &first, &device));
    EXPECT_EQ(STATUS_ACCESS_DENIED, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &second, &device));
    EXPECT_EQ(STATUS_ACCESS_DENIED, kernel->OpenFile(u"\\Device\\Serial0", FILE_ALL_ACCESS, &second));
    ObDereferenceObject(first);
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Serial0", FILE_ALL_ACCESS, &second));
    kernel->CloseFile(second);
}

TEST_F(ObjectTest, ClosedFilesAreRecognisedForAWhileAndThenForgotten)
{
    std::vector<UCHAR> majors;
    RecordingDevice(L"\\Device\\Beep", &majors, false);
    PFILE_OBJECT first = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Beep", FILE_ALL_ACCESS, &first));
    kernel->CloseFile(first);
    // Just closed: a late use is named as one.
    EXPECT_DEATH(ObReferenceObject(first), "has already been deleted");
    const size_t before = kernel->ObjectRecords();
    for (int i = 0; i < 20000; ++i) {
        PFILE_OBJECT file = nullptr;
        ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Beep", FILE_ALL_ACCESS, &file));
        kernel->CloseFile(file);
    }
    // A program that opens and closes all day leaves a bounded table behind.
    EXPECT_LE(kernel->ObjectRecords(), before + 4096);
}

TEST_F(ObjectTest, OpeningFailsForMissingInitialisingAndDeletedDevices)
{
    PFILE_OBJECT file = nullptr;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, kernel->OpenFile(u"\\Device\\Nothing", FILE_ALL_ACCESS, &file));
    EXPECT_EQ(STATUS_OBJECT_PATH_NOT_FOUND, kernel->OpenFile(u"\\Nowhere\\Nothing", FILE_ALL_ACCESS, &file));

    UNICODE_STRING name = Name(L"\\Device\\Young");
    PDEVICE_OBJECT young = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &young));
    EXPECT_EQ(STATUS_NO_SUCH_DEVICE, kernel->OpenFile(u"\\Device\\Young", FILE_ALL_ACCESS, &file));
    IoDeleteDevice(young);

    // A failed create sends nothing more.
    std::vector<UCHAR> majors;
    CreateDevice(
        [&](PDEVICE_OBJECT, PIRP irp) {
            majors.push_back(IoGetCurrentIrpStackLocation(irp)->MajorFunction);
            return Complete(irp, STATUS_ACCESS_DENIED);
        },
        L"\\Device\\Refuses");
    EXPECT_EQ(STATUS_ACCESS_DENIED, kernel->OpenFile(u"\\Device\\Refuses", FILE_ALL_ACCESS, &file));
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE}), majors);
}

TEST_F(ObjectTest, DeletedDeviceStaysUntilItsLastFileIsClosed)
{
    std::vector<UCHAR> majors;
    PDEVICE_OBJECT control = RecordingDevice(L"\\Device\\Control", &majors);
    PFILE_OBJECT file = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Control", FILE_ALL_ACCESS, &file));
    IoDeleteDevice(control);
    EXPECT_TRUE(kernel->IsDeviceDeleted(control));
    EXPECT_EQ(nullptr, kernel->FindDevice(u"\\Device\\Control")); // the name goes at once
    kernel->CloseFile(file); // cleanup and close still reach the deleted device
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}), majors);
}

// A tool's handle (and another driver's open) on a control device its driver has deleted: the
// device is delete-pending, not the driver's leak, and its name is free for the next pair at once.
TEST_F(ObjectTest, DeletedDeviceHeldOpenByOthersIsNotItsDriversLeakAndGivesUpItsName)
{
    constexpr ULONG code = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
    std::vector<UCHAR> old;
    std::vector<UCHAR> fresh;
    PDEVICE_OBJECT control = RecordingDevice(L"\\Device\\Control", &old);
    PFILE_OBJECT user = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Control", FILE_ALL_ACCESS, &user));
    tapkernel::DriverModule *other = kernel->CreateModule("Other");
    UNICODE_STRING name = Name(L"\\Device\\Control");
    PFILE_OBJECT othersFile = nullptr;
    PDEVICE_OBJECT top = nullptr;
    {
        tapkernel::ModuleScope asOther(other);
        ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &othersFile, &top));
    }
    IoDeleteDevice(control);
    kernel->CheckDeviceRemoval(module); // neither open is the driver's to release
    EXPECT_EQ(1u, kernel->Usage(module).deletePendingDevices);

    PDEVICE_OBJECT next = RecordingDevice(L"\\Device\\Control", &fresh);
    ASSERT_NE(nullptr, next);
    PFILE_OBJECT second = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Control", FILE_ALL_ACCESS, &second));
    EXPECT_EQ(next, second->DeviceObject);
    ULONG_PTR information = 0;
    EXPECT_EQ(STATUS_SUCCESS, kernel->DeviceIoControl(user, code, nullptr, 0, nullptr, 0, &information));
    EXPECT_EQ(IRP_MJ_DEVICE_CONTROL, old.back()) << "the old handle still reaches the old device";
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE}), fresh);

    kernel->CloseFile(user);
    EXPECT_EQ(1u, kernel->Usage(module).deletePendingDevices) << "the other driver's file object still holds it";
    {
        tapkernel::ModuleScope asOther(other);
        ObDereferenceObject(othersFile);
    }
    EXPECT_EQ(0u, kernel->Usage(module).deletePendingDevices);
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_DEVICE_CONTROL, IRP_MJ_CLEANUP,
                                  IRP_MJ_CLOSE, IRP_MJ_CLOSE}),
              old);
    kernel->CloseFile(second);
    IoDeleteDevice(next);
}

TEST_F(ObjectTest, UserModeControlRequestUsesTheSystemBuffer)
{
    constexpr ULONG code = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
    CreateDevice(
        [](PDEVICE_OBJECT, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
                return Complete(irp, STATUS_SUCCESS);
            }
            auto *sample = static_cast<ULONG *>(irp->AssociatedIrp.SystemBuffer);
            sample[0] = 100;
            sample[1] = 200;
            sample[2] = 300;
            return Complete(irp, STATUS_SUCCESS, 12);
        },
        L"\\Device\\Monotap0");
    UNICODE_STRING link = Name(L"\\??\\MonotapSymLnk1");
    UNICODE_STRING target = Name(L"\\Device\\Monotap0");
    ASSERT_EQ(STATUS_SUCCESS, IoCreateSymbolicLink(&link, &target));
    PFILE_OBJECT file = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\??\\MonotapSymLnk1", GENERIC_READ | GENERIC_WRITE, &file));
    ULONG sample[3] = {};
    ULONG_PTR information = 0;
    EXPECT_EQ(STATUS_SUCCESS, kernel->DeviceIoControl(file, code, nullptr, 0, sample, sizeof sample, &information));
    EXPECT_EQ(12u, information);
    EXPECT_EQ(300u, sample[2]);
    kernel->CloseFile(file);
    IoDeleteSymbolicLink(&link);
}

// ---- A request holds its file object ------------------------------------------------------------

// The last handle goes while a read is pending: IRP_MJ_CLEANUP at once, IRP_MJ_CLOSE only once
// the read is finished, and then from the system worker rather than inside the driver's
// IoCompleteRequest.
TEST_F(ObjectTest, PendingRequestKeepsTheFileObjectFromCloseButNotFromCleanup)
{
    KeptReads kept;
    CreateReadKeepingDevice(L"\\Device\\Keeper", &kept);
    PFILE_OBJECT file = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Keeper", GENERIC_READ, &file));
    NTSTATUS status = STATUS_PENDING;
    PKTHREAD reader = StartRead(file, &status);
    kernel->WaitUntilIdle();
    ASSERT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_READ}), kept.Majors());
    PIRP read = kept.TakeRead();
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(file, read->Tail.Overlay.OriginalFileObject);
    EXPECT_EQ(file, IoGetCurrentIrpStackLocation(read)->FileObject);

    kernel->CloseFile(file);
    kernel->WaitUntilIdle();
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_READ, IRP_MJ_CLEANUP}), kept.Majors())
        << "cleanup goes with the last handle; the read's reference keeps the object open";
    EXPECT_EQ(STATUS_PENDING, status);

    Complete(read, STATUS_SUCCESS);
    Join(reader);
    kernel->WaitUntilIdle();
    EXPECT_EQ(STATUS_SUCCESS, status);
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_READ, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}), kept.Majors());
    EXPECT_NE(std::this_thread::get_id(), kept.closeThread) << "the close is deferred, not sent from the completion";
}

// The serial port's way: its cleanup completes the file's pending read as cancelled; the close
// follows once that read is finished, and every reference has gone (a second close is refused).
TEST_F(ObjectTest, CleanupThatCancelsThePendingReadIsFollowedByTheClose)
{
    KeptReads kept;
    kept.completeAtCleanup = true;
    CreateReadKeepingDevice(L"\\Device\\Keeper", &kept);
    PFILE_OBJECT file = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, kernel->OpenFile(u"\\Device\\Keeper", GENERIC_READ, &file));
    NTSTATUS status = STATUS_PENDING;
    PKTHREAD reader = StartRead(file, &status);
    kernel->WaitUntilIdle();
    kernel->CloseFile(file);
    Join(reader);
    kernel->WaitUntilIdle();
    EXPECT_EQ(STATUS_CANCELLED, status);
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_READ, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}), kept.Majors());
    EXPECT_DEATH(kernel->CloseFile(file), "is not an open file object");
    ULONG_PTR information = 0;
    UCHAR buffer[4];
    EXPECT_DEATH(kernel->Read(file, buffer, sizeof buffer, &information),
                 "BUGCHECK in I/O request: request \\(major function 0x03\\) on .* which is not an open file object");
}

TEST_F(ObjectTest, AttachingStacksGrowsStackSizeAndDetachingUndoesIt)
{
    PDEVICE_OBJECT pdo = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PDEVICE_OBJECT fdo = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    PDEVICE_OBJECT upper = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    EXPECT_EQ(pdo, IoAttachDeviceToDeviceStack(fdo, pdo));
    EXPECT_EQ(fdo, IoAttachDeviceToDeviceStack(upper, pdo)); // attaches to the top, not to pdo
    EXPECT_EQ(2, fdo->StackSize);
    EXPECT_EQ(3, upper->StackSize);
    EXPECT_EQ(fdo, pdo->AttachedDevice);
    EXPECT_EQ(upper, fdo->AttachedDevice);
    IoDetachDevice(fdo);
    IoDeleteDevice(upper);
    IoDetachDevice(pdo);
    EXPECT_EQ(nullptr, pdo->AttachedDevice);
    IoDeleteDevice(fdo);
    IoDeleteDevice(pdo);
}

TEST_F(ObjectTest, SystemThreadHandleGivesAReferencedThreadThatSignalsAtItsEnd)
{
    static KEVENT go;
    KeInitializeEvent(&go, SynchronizationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                   [](PVOID) {
                                                       KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr);
                                                       PsTerminateSystemThread(STATUS_SUCCESS);
                                                   },
                                                   nullptr));
    PVOID thread = nullptr;
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
              ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *IoFileObjectType, KernelMode, &thread, nullptr));
    ASSERT_EQ(STATUS_SUCCESS,
              ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(handle));
    LARGE_INTEGER poll{};
    EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &poll));
    KeSetEvent(&go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr));
    ObDereferenceObject(thread);
}

} // namespace
