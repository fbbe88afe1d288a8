#include "libretro/core_options.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "libretro/orientation_profile.hpp"

namespace tarvel::libretro {
namespace {

TEST(VolumeOption, ParsesUnsignedDecimalsCappedAtHundred) {
    EXPECT_EQ(parse_volume_option(std::nullopt), 100u);
    EXPECT_EQ(parse_volume_option("55"), 55u);
    EXPECT_EQ(parse_volume_option("0"), 0u);
    EXPECT_EQ(parse_volume_option("+30"), 30u);
    EXPECT_EQ(parse_volume_option("007"), 7u);
    EXPECT_EQ(parse_volume_option("250"), 100u);
    EXPECT_EQ(parse_volume_option("4294967295"), 100u);
    for (const char* bad : {"-5", "", "+", "-", "abc", "4294967296", "99999999999999999999", " 50", "50 ", "5.0",
                            "0x10", "++5"}) {
        EXPECT_EQ(parse_volume_option(bad), 100u) << "'" << bad << "'";
    }
}

TEST(SwitchOptions, OnlyTheExactWordsCount) {
    EXPECT_TRUE(parse_touch_input_option(std::nullopt));
    EXPECT_TRUE(parse_touch_input_option("enabled"));
    EXPECT_TRUE(parse_touch_input_option("off"));
    EXPECT_TRUE(parse_touch_input_option("Disabled"));
    EXPECT_FALSE(parse_touch_input_option("disabled"));

    EXPECT_FALSE(parse_enabled_option(std::nullopt));
    EXPECT_FALSE(parse_enabled_option("on"));
    EXPECT_FALSE(parse_enabled_option("Enabled"));
    EXPECT_TRUE(parse_enabled_option("enabled"));

    EXPECT_EQ(parse_orientation_option(std::nullopt), Orientation::Auto);
    EXPECT_EQ(parse_orientation_option("auto"), Orientation::Auto);
    EXPECT_EQ(parse_orientation_option("Portrait"), Orientation::Auto);
    EXPECT_EQ(parse_orientation_option("portrait"), Orientation::Portrait);
    EXPECT_EQ(parse_orientation_option("landscape"), Orientation::Landscape);

    EXPECT_EQ(parse_pointer_button_option(std::nullopt), TouchButton::R3);
    EXPECT_EQ(parse_pointer_button_option("L3"), TouchButton::R3);
    EXPECT_EQ(parse_pointer_button_option("l3"), TouchButton::L3);
    EXPECT_EQ(parse_pointer_button_option("r2"), TouchButton::R2);
    EXPECT_EQ(parse_pointer_arrow_option(std::nullopt), CursorStyle::White);
    EXPECT_EQ(parse_pointer_arrow_option("black"), CursorStyle::Black);
    EXPECT_EQ(parse_pointer_arrow_option("hidden"), CursorStyle::Hidden);
    EXPECT_EQ(parse_pointer_arrow_option("none"), CursorStyle::White);
}

TEST(PointerSpeedOption, TakesOneToFortyPixelsAndOtherwiseTheDefault) {
    EXPECT_EQ(parse_pointer_speed_option("3"), 3u);
    EXPECT_EQ(parse_pointer_speed_option("+40"), 40u);
    EXPECT_EQ(parse_pointer_speed_option("1"), 1u);
    for (const char* bad : {"0", "41", "-3", "", "fast", "4294967296"}) EXPECT_EQ(parse_pointer_speed_option(bad), 6u) << bad;
    EXPECT_EQ(parse_pointer_speed_option(std::nullopt), 6u);
}

// The option offers a few ports; the environment variable takes any, and
// wins over the option while it holds one.
TEST(GdbPortSetting, EnvironmentOverOptionAndOnlyRealPorts) {
    EXPECT_EQ(parse_port("1234"), u16{1234});
    EXPECT_EQ(parse_port("65535"), u16{65535});
    for (const char* bad : {"disabled", "", "0", "65536", "+80", "-1", "80 ", "0x50"})
        EXPECT_EQ(parse_port(bad), std::nullopt) << "'" << bad << "'";
    EXPECT_EQ(parse_port(std::nullopt), std::nullopt);

    const OptionReader option = [](const char* key) -> std::optional<std::string> {
        return std::string(key) == "tarvel_gdb_port" ? std::optional<std::string>("3333") : std::nullopt;
    };
    ::unsetenv(kGdbPortVariable);
    EXPECT_EQ(gdb_port_setting(option), u16{3333});
    EXPECT_EQ(gdb_port_setting(nullptr), std::nullopt);
    ::setenv(kGdbPortVariable, "40001", 1);
    EXPECT_EQ(gdb_port_setting(option), u16{40001});
    ::setenv(kGdbPortVariable, "not a port", 1);
    EXPECT_EQ(gdb_port_setting(option), u16{3333});
    ::unsetenv(kGdbPortVariable);
}

class ApplyOptions : public ::testing::Test {
protected:
    void SetUp() override { replace_user_orientation_profile({}); }
    void TearDown() override { replace_user_orientation_profile({}); }

    AppliedOptions apply(u64 length = 10, u32 crc = 0x1234) {
        return apply_core_options(
            [this](const char* key) -> std::optional<std::string> {
                auto it = values.find(key);
                if (it == values.end()) return std::nullopt;
                return it->second;
            },
            lookup_orientation(length, crc));
    }
    std::map<std::string, std::string> values;
};

TEST_F(ApplyOptions, UnsetOptionsGiveTheDefaults) {
    AppliedOptions o = apply();
    EXPECT_EQ(o.volume, 100u);
    EXPECT_TRUE(o.touch_input);
    EXPECT_FALSE(o.debug_logging);
    EXPECT_FALSE(o.auto_bgm);
    EXPECT_EQ(o.orientation_option, Orientation::Auto);
    EXPECT_EQ(o.effective_orientation, Orientation::Portrait);
    EXPECT_EQ(o.virtual_pointer, VirtualPointerOptions{}) << "off, R3, speed 6, white";
    EXPECT_EQ(describe_applied_options(o),
              "Core options applied: volume=100 touch_input=true auto_bgm=false debug_logging=false orientation=Auto");
}

TEST_F(ApplyOptions, EveryOptionReadsItsOwnKey) {
    values = {{"tarvel_volume", "40"},
              {"tarvel_touch_input", "disabled"},
              {"tarvel_debug_logging", "enabled"},
              {"tarvel_auto_bgm", "enabled"},
              {"tarvel_screen_orientation", "landscape"},
              {"tarvel_virtual_pointer", "enabled"},
              {"tarvel_pointer_button", "l3"},
              {"tarvel_pointer_speed", "15"},
              {"tarvel_pointer_arrow", "black"}};
    AppliedOptions o = apply();
    EXPECT_EQ(o.virtual_pointer, (VirtualPointerOptions{true, TouchButton::L3, 15, CursorStyle::Black}));
    EXPECT_EQ(o.volume, 40u);
    EXPECT_FALSE(o.touch_input);
    EXPECT_TRUE(o.debug_logging);
    EXPECT_TRUE(o.auto_bgm);
    EXPECT_EQ(o.orientation_option, Orientation::Landscape);
    EXPECT_EQ(o.effective_orientation, Orientation::Landscape);
    EXPECT_EQ(
        describe_applied_options(o),
        "Core options applied: volume=40 touch_input=false auto_bgm=true debug_logging=true orientation=Landscape");
}

TEST_F(ApplyOptions, AutoResolvesThroughTheProfileAndFixedChoicesIgnoreIt) {
    const u64 length = 341737;
    const u32 crc = 0xEE5A53AC;  // a built-in landscape content
    EXPECT_EQ(apply(length, crc).effective_orientation, Orientation::Landscape);
    EXPECT_EQ(apply(length + 1, crc).effective_orientation, Orientation::Portrait);

    replace_user_orientation_profile({{length, crc, Orientation::Portrait}, {5, 6, Orientation::Landscape}});
    EXPECT_EQ(apply(length, crc).effective_orientation, Orientation::Portrait);
    EXPECT_EQ(apply(5, 6).effective_orientation, Orientation::Landscape);

    values["tarvel_screen_orientation"] = "portrait";
    AppliedOptions o = apply(5, 6);
    EXPECT_EQ(o.effective_orientation, Orientation::Portrait);
    EXPECT_EQ(o.orientation_option, Orientation::Portrait);
    values["tarvel_screen_orientation"] = "landscape";
    EXPECT_EQ(apply(1, 1).effective_orientation, Orientation::Landscape);
}

TEST_F(ApplyOptions, ALogLinePrintsTheOptionNotTheEffectiveOrientation) {
    AppliedOptions o = apply(341737, 0xEE5A53AC);
    EXPECT_EQ(o.effective_orientation, Orientation::Landscape);
    EXPECT_NE(describe_applied_options(o).find("orientation=Auto"), std::string::npos);
}

// A frontend environment callback answering GET_VARIABLE from a small table.
struct FakeEnvironment {
    static inline bool accept = true;
    static inline std::map<std::string, const char*> table;
    static inline int requests = 0;

    static bool callback(unsigned cmd, void* data) {
        ++requests;
        if (cmd != RETRO_ENVIRONMENT_GET_VARIABLE || !accept) return false;
        auto* variable = static_cast<retro_variable*>(data);
        auto it = table.find(variable->key);
        variable->value = it == table.end() ? nullptr : it->second;
        return true;
    }
};

TEST(FrontendOptionReader, TreatsRefusalNullAndBadTextAsUnset) {
    FakeEnvironment::table = {{"tarvel_volume", "70"}, {"tarvel_auto_bgm", "en\xFF" "abled"}};
    FakeEnvironment::accept = true;
    OptionReader read = frontend_option_reader(&FakeEnvironment::callback);
    EXPECT_EQ(read("tarvel_volume"), std::optional<std::string>("70"));
    EXPECT_EQ(read("tarvel_touch_input"), std::nullopt);  // null value
    EXPECT_EQ(read("tarvel_auto_bgm"), std::nullopt);     // not UTF-8
    EXPECT_EQ(apply_core_options(read, Orientation::Portrait).volume, 70u);

    FakeEnvironment::accept = false;
    EXPECT_EQ(read("tarvel_volume"), std::nullopt);
    EXPECT_EQ(frontend_option_reader(nullptr)("tarvel_volume"), std::nullopt);
    EXPECT_EQ(apply_core_options(nullptr, Orientation::Portrait).volume, 100u);
}

}  // namespace
}  // namespace tarvel::libretro
