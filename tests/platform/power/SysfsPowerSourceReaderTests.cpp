#include "platform/linux/power/SysfsPowerSourceReader.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session/HostFormFactor.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

// A throw-away power-supply tree: one folder per source with its attribute files.
class PowerSupplyTree {
public:
    PowerSupplyTree() {
        std::string pattern = (fs::temp_directory_path() / "quillbridge-power-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        base = pattern;
        root = base / "power_supply";
        fs::create_directory(root);
    }
    ~PowerSupplyTree() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    // A source folder; a missing attribute is left out.
    void add(const std::string& name, const std::optional<std::string>& type,
             const std::optional<std::string>& scope = std::nullopt) {
        auto folder = root / name;
        fs::create_directory(folder);
        write(folder / "type", type);
        write(folder / "scope", scope);
    }

    // A source the way the kernel lists it: a link to the device's folder elsewhere.
    void addLinked(const std::string& name, const std::optional<std::string>& type,
                   const std::optional<std::string>& scope = std::nullopt) {
        auto device = base / "devices" / name;
        fs::create_directories(device);
        write(device / "type", type);
        write(device / "scope", scope);
        fs::create_directory_symlink(device, root / name);
    }

    fs::path base;
    fs::path root;

private:
    static void write(const fs::path& file, const std::optional<std::string>& text) {
        if (text)
            std::ofstream(file) << *text;
    }
};

struct Source {
    std::string name;
    std::optional<std::string> type;
    std::optional<std::string> scope;
};

TEST(SysfsPowerSourceReaderTests, AnInternalBatteryMakesALaptop) {
    struct Case {
        const char* what;
        std::vector<Source> sources;
        HostFormFactor expected;
    };
    const std::vector<Case> cases = {
        {"battery without scope and mains",
         {{"AC", "Mains\n", std::nullopt}, {"BAT0", "Battery\n", std::nullopt}},
         HostFormFactor::laptop},
        {"battery of the system", {{"BAT1", "Battery\n", "System\n"}}, HostFormFactor::laptop},
        {"battery beside a mouse battery",
         {{"hidpp_battery_0", "Battery\n", "Device\n"}, {"BAT0", "Battery", "Unknown"}},
         HostFormFactor::laptop},
        {"only a mouse battery",
         {{"AC", "Mains\n", std::nullopt}, {"hidpp_battery_0", "Battery\n", "Device\n"}},
         HostFormFactor::desktop},
        {"mains and a UPS",
         {{"AC", "Mains\n", std::nullopt}, {"ups", "UPS\n", std::nullopt}},
         HostFormFactor::desktop},
        {"no sources", {}, HostFormFactor::desktop},
        {"a source without a type", {{"BAT0", std::nullopt, "System\n"}}, HostFormFactor::desktop},
        {"a type with blanks around it", {{"BAT0", "  Battery \n", std::nullopt}}, HostFormFactor::laptop},
        {"an oversized type", {{"BAT0", std::string(500, 'B'), std::nullopt}}, HostFormFactor::desktop},
    };
    for (const auto& [what, sources, expected] : cases) {
        PowerSupplyTree tree;
        for (const auto& source : sources)
            tree.add(source.name, source.type, source.scope);
        EXPECT_EQ(hostFormFactor(SysfsPowerSourceReader(tree.root)), expected) << what;
    }
}

TEST(SysfsPowerSourceReaderTests, ReadsSourcesThroughTheKernelsLinks) {
    PowerSupplyTree tree;
    tree.addLinked("AC", "Mains\n");
    tree.addLinked("BAT0", "Battery\n", "System\n");
    auto sources = SysfsPowerSourceReader(tree.root).powerSources();
    ASSERT_TRUE(sources.has_value());
    std::ranges::sort(*sources, {}, &PowerSourceDescription::type);
    EXPECT_EQ(*sources, (std::vector<PowerSourceDescription>{{"Battery", "System"}, {"Mains", ""}}));
    EXPECT_EQ(hostFormFactor(SysfsPowerSourceReader(tree.root)), HostFormFactor::laptop);
}

TEST(SysfsPowerSourceReaderTests, AnUnreadableTreeIsADesktop) {
    PowerSupplyTree tree;
    std::ofstream(tree.base / "a-file") << "Battery\n";
    for (const auto& root : {tree.base / "missing", tree.base / "a-file"}) {
        SysfsPowerSourceReader reader(root);
        EXPECT_FALSE(reader.powerSources().has_value()) << root;
        EXPECT_EQ(hostFormFactor(reader), HostFormFactor::desktop) << root;
    }
}

TEST(SysfsPowerSourceReaderTests, FormFactorTextsAreTheAdvertisedValues) {
    EXPECT_EQ(hostFormFactorText(HostFormFactor::laptop), "laptop");
    EXPECT_EQ(hostFormFactorText(HostFormFactor::desktop), "desktop");
}

TEST(SysfsPowerSourceReaderTests, TheFormFactorIsWorkedOutOncePerProcess) {
    PowerSupplyTree laptop;
    laptop.add("BAT0", "Battery\n");
    PowerSupplyTree desktop;
    desktop.add("AC", "Mains\n");
    EXPECT_EQ(cachedHostFormFactor(SysfsPowerSourceReader(laptop.root)), HostFormFactor::laptop);
    EXPECT_EQ(cachedHostFormFactor(SysfsPowerSourceReader(desktop.root)), HostFormFactor::laptop);
}

}  // namespace
}  // namespace quillbridge
