// Drive C: in a host folder and the module loader.
#include <machine/FileSystem.h>
#include <machine/ModuleLoader.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tapmachine;

namespace {

TEST(FileSystem, WindowsPathFormsNameTheSameFile)
{
    FileSystem c;
    std::string expected = c.root() + "/WINDOWS/system32/drivers/Monotap.sys";
    EXPECT_EQ(c.HostPath(u"C:\\WINDOWS\\system32\\drivers\\Monotap.sys"), expected);
    EXPECT_EQ(c.HostPath(u"\\SystemRoot\\System32\\Drivers\\Monotap.sys"),
              c.root() + "/WINDOWS/system32/drivers/Monotap.sys");
    EXPECT_EQ(c.HostPath(u"\\??\\c:\\windows\\SYSTEM32\\drivers\\Monotap.sys"), expected);
    EXPECT_EQ(c.HostPath(u"System32\\drivers\\Monotap.sys"), expected);  // as an ImagePath
    EXPECT_EQ(c.HostPath(u"C:\\WINDOWS\\..\\..\\WINDOWS\\inf"), c.root() + "/WINDOWS/inf");
    EXPECT_FALSE(c.HostPath(u"D:\\setup.exe").has_value());
    EXPECT_FALSE(c.HostPath(u"\\Device\\Serial0").has_value());

    // Existing names are found whatever the case; the file keeps the case it was made with.
    c.WriteText(u"C:\\MonotapDrv\\MonoAlign.EXE", "program");
    EXPECT_TRUE(c.Exists(u"c:\\monotapdrv\\monoalign.exe"));
    EXPECT_EQ(c.ReadText(u"C:\\MONOTAPDRV\\MonoAlign.exe"), "program");
    EXPECT_TRUE(std::filesystem::exists(c.root() + "/MonotapDrv/MonoAlign.EXE"));
    c.Remove(u"C:\\MonotapDrv\\monoalign.exe");
    EXPECT_FALSE(c.Exists(u"C:\\MonotapDrv\\MonoAlign.EXE"));
}

TEST(FileSystem, TemporaryDriveGoesAwayWithIt)
{
    std::string root;
    {
        FileSystem c;
        root = c.root();
        EXPECT_TRUE(std::filesystem::is_directory(root + "/WINDOWS/system32/drivers"));
    }
    EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(ModuleLoader, EveryLoadHasFreshGlobalsOfItsOwn)
{
    FileSystem c;
    c.CopyIn(TAP_PROBE_MODULE, u"\\SystemRoot\\System32\\drivers\\Probe.sys");
    std::string path = c.RequireHostPath(u"\\SystemRoot\\System32\\drivers\\Probe.sys");
    ModuleLoader loader;
    auto first = loader.Load(path);
    auto second = loader.Load(path);
    using Increment = int (*)();
    auto incrementFirst = reinterpret_cast<Increment>(first->Symbol("ProbeIncrement"));
    auto incrementSecond = reinterpret_cast<Increment>(second->Symbol("ProbeIncrement"));
    ASSERT_NE(incrementFirst, nullptr);
    EXPECT_EQ(incrementFirst(), 1);
    EXPECT_EQ(incrementFirst(), 2);
    EXPECT_EQ(incrementSecond(), 1);  // its own counter
    first.reset();
    auto third = loader.Load(path);
    EXPECT_EQ(reinterpret_cast<Increment>(third->Symbol("ProbeIncrement"))(), 1);
    EXPECT_EQ(third->Symbol("NoSuchSymbol"), nullptr);
    EXPECT_FALSE(third->builtIn());
}

int BuiltInEntry() { return 42; }

TEST(ModuleLoader, MarkerFilesLoadBuiltInModulesAndJunkIsRefused)
{
    FileSystem c;
    ModuleLoader loader;
    loader.RegisterBuiltIn("serial", {{"DriverEntry", reinterpret_cast<void *>(&BuiltInEntry)}});
    c.WriteText(u"\\SystemRoot\\System32\\drivers\\serial.sys", ModuleLoader::BuiltInMarker("serial"));
    auto serial = loader.Load(c.RequireHostPath(u"\\SystemRoot\\System32\\drivers\\serial.sys"));
    EXPECT_TRUE(serial->builtIn());
    EXPECT_EQ(serial->Symbol("DriverEntry"), reinterpret_cast<void *>(&BuiltInEntry));

    c.WriteText(u"C:\\junk.sys", "not a module");
    EXPECT_THROW(loader.Load(c.RequireHostPath(u"C:\\junk.sys")), ModuleLoadError);
    EXPECT_THROW(loader.Load(c.RequireHostPath(u"C:\\missing.sys")), ModuleLoadError);
    c.WriteText(u"C:\\other.sys", ModuleLoader::BuiltInMarker("nonesuch"));
    EXPECT_THROW(loader.Load(c.RequireHostPath(u"C:\\other.sys")), ModuleLoadError);
}

}  // namespace
