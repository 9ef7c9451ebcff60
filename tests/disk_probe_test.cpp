// The disk-protection probe against devices fabricated in the prefix through
// SetupAPI and the filter service's key.
#include <gtest/gtest.h>

#include "fabricate.h"
#include "common/disk_probe.h"

namespace vireo::testing {
namespace {

// {DD2A6682-735E-4E8E-8A59-D9DCCF1EBECE}
constexpr GUID kProbeInterface = {
    0xDD2A6682, 0x735E, 0x4E8E, {0x8A, 0x59, 0xD9, 0xDC, 0xCF, 0x1E, 0xBE, 0xCE}};
// GUID_DEVCLASS_SYSTEM
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class DiskProtectionProbe : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveFabricated();
        bench::DeleteServiceKey("crvdskflt");
    }
    void TearDown() override { SetUp(); }

    void AddDevice(const char* enumerator, const std::vector<std::string>& ids) {
        const std::string instance =
            bench::FabricateDevice(kSystemClass, enumerator, ids, kProbeInterface);
        ASSERT_FALSE(instance.empty()) << "could not fabricate " << enumerator;
    }
    static void AddService() { ASSERT_TRUE(bench::CreateServiceKey("crvdskflt")); }
    static void RemoveFabricated() {
        for (const auto& device : bench::ListDevices(kProbeInterface))
            bench::RemoveDevice(device.instanceId);
        ASSERT_TRUE(bench::ListDevices(kProbeInterface).empty());
    }
};

TEST_F(DiskProtectionProbe, DeviceAndServiceBothThere) {
    AddDevice("CRVDISKPROT", {"ACPI\\CRV0004", "*CRV0004"});
    AddService();
    EXPECT_EQ(1, IsDiskProtectionPresent());
}

TEST_F(DiskProtectionProbe, MatchingDeviceLaterInTheListIsFound) {
    AddDevice("CRVAAAA", {"ACPI\\CRV0001"});
    AddDevice("CRVBBBB", {"ACPI\\CRV0003"});
    AddDevice("CRVDISKPROT", {"ACPI\\CRV0004"});
    AddService();
    const auto devices = bench::ListDevices(kProbeInterface);
    ASSERT_EQ(3u, devices.size());
    ASSERT_NE("ACPI\\CRV0004", devices[0].firstHardwareId) << "the match should not be first";
    EXPECT_EQ(1, IsDiskProtectionPresent());
}

// The first hardware ID must equal the wanted one exactly, terminator and
// letter case included.
TEST_F(DiskProtectionProbe, NearMissesAreNoMatch) {
    AddService();
    AddDevice("CRVLONGER", {"ACPI\\CRV00041"});
    AddDevice("CRVLOWER", {"acpi\\crv0004"});
    AddDevice("CRVSECOND", {"ACPI\\CRV0005", "ACPI\\CRV0004"});
    AddDevice("CRVSHORT", {"ACPI\\CRV000"});
    EXPECT_EQ(0, IsDiskProtectionPresent());
}

TEST_F(DiskProtectionProbe, EitherHalfAloneIsNotEnough) {
    AddService();
    EXPECT_EQ(0, IsDiskProtectionPresent()) << "service key without device";
    bench::DeleteServiceKey("crvdskflt");
    AddDevice("CRVDISKPROT", {"ACPI\\CRV0004"});
    EXPECT_EQ(0, IsDiskProtectionPresent()) << "device without service key";
}

}  // namespace
}  // namespace vireo::testing
