// The four disk feature buttons of a disk's page: over a fake of the driver calls, the setting each
// one sends for the state the driver reports, a disk that cannot be read and a refused change;
// against the real server, every feature switched on and off and seen in the simulated disk.
#include "fakedriver.h"
#include "guiserver.h"

namespace {

constexpr uint8_t kAllSupported = VTN_FEATURE_WRITE_CACHE_SUPPORTED | VTN_FEATURE_READ_AHEAD_SUPPORTED |
                                  VTN_FEATURE_TCQ_SUPPORTED | VTN_FEATURE_NCQ_SUPPORTED;

struct Feature {
    const char* name;
    uint8_t on;        // bit of the device record
    uint32_t which;    // mask of the setting
    GtkWidget* CVTNTree::*button;
};
const Feature kFeatures[] = {
    {"write cache", VTN_FEATURE_WRITE_CACHE_ON, VTN_ALTER_WRITE_CACHE, &CVTNTree::pWriteCacheBtn},
    {"read ahead", VTN_FEATURE_READ_AHEAD_ON, VTN_ALTER_READ_AHEAD, &CVTNTree::pReadAheadBtn},
    {"TCQ", VTN_FEATURE_TCQ_ON, VTN_ALTER_TCQ, &CVTNTree::pTCQBtn},
    {"NCQ", VTN_FEATURE_NCQ_ON, VTN_ALTER_NCQ, &CVTNTree::pNCQBtn},
};

std::string Caption(GtkWidget* button)
{
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    return label ? label : "";
}

uint8_t SettingValue(const _ALTERABLE_DEVICE_INFO_V2& d, uint32_t which)
{
    switch (which) {
    case VTN_ALTER_TCQ: return d.tcq;
    case VTN_ALTER_NCQ: return d.ncq;
    case VTN_ALTER_WRITE_CACHE: return d.writeCache;
    default: return d.readAhead;
    }
}

// The windows of other test programs on a shared display move the focus; a focus-in of the main
// window selects the tree's root, which would take the disk's page away while a box is open.
void HoldFocus(GtkWidget* window)
{
    // GLib blocks only with a closure, function or data in the mask: the window's handler has no data.
    const guint held = g_signal_handlers_block_matched(
        window, static_cast<GSignalMatchType>(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA),
        g_signal_lookup("focus-in-event", GTK_TYPE_WIDGET), 0, nullptr, nullptr, nullptr);
    EXPECT_GE(held, 1u);
}

class FeaturesFake : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        fake_ = std::make_unique<FakeDriver>();
        fake_->Disk(1, 0, 0, 0, 80, "Disk1");
        // Every button shown, so each carries the disk's id.
        Features() = kAllSupported;
        StartMainWindow();
        window_->bTimerOn = false;
        ArrayManagement();
        ASSERT_TRUE(PumpUntil([this] { return PageReady(Page()); }));
        ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Disk1"));
    }
    void TearDown() override
    {
        fake_.reset();
        GuiTest::TearDown();
    }
    CVTNTree* Page() { return TreeObjectOf(window_->pArrayTree); }
    uint8_t& Features() { return fake_->devices[1].u.disk.features; }

    std::unique_ptr<FakeDriver> fake_;
};

TEST_F(FeaturesFake, EachButtonSendsTheOppositeOfTheStateTheDriverReports)
{
    for (const Feature& f : kFeatures) {
        for (bool on : {true, false}) {
            SCOPED_TRACE(std::string(f.name) + (on ? " on" : " off"));
            Features() = static_cast<uint8_t>(kAllSupported | (on ? f.on : 0));
            fake_->settings.clear();
            GtkWidget* button = Page()->*f.button;
            Answering({}, [button] { gtk_button_clicked(GTK_BUTTON(button)); });
            ASSERT_EQ(fake_->settings.size(), 1u);
            EXPECT_EQ(fake_->settings[0].first, 1u);
            EXPECT_EQ(fake_->settings[0].second.validMask, f.which);
            EXPECT_EQ(SettingValue(fake_->settings[0].second, f.which), on ? 0 : 1);
            EXPECT_EQ(Caption(button), "...");
        }
    }
    // A second click before the page is drawn again reads the device again.
    Features() = kAllSupported | VTN_FEATURE_NCQ_ON;
    fake_->settings.clear();
    gtk_button_clicked(GTK_BUTTON(Page()->pNCQBtn));
    Features() = kAllSupported;
    gtk_button_clicked(GTK_BUTTON(Page()->pNCQBtn));
    ASSERT_EQ(fake_->settings.size(), 2u);
    EXPECT_EQ(fake_->settings[0].second.ncq, 0);
    EXPECT_EQ(fake_->settings[1].second.ncq, 1);
    // The page drawn again shows the state and its caption.
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Disk1"));
    EXPECT_EQ(Caption(Page()->pNCQBtn), "Enable");
}

TEST_F(FeaturesFake, AnUnreadableDiskGetsNothingAndARefusalIsShownWithTheRealState)
{
    Features() = kAllSupported | VTN_FEATURE_WRITE_CACHE_ON;
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Disk1"));
    ASSERT_EQ(Caption(Page()->pWriteCacheBtn), "Disable");
    fake_->unreadable.insert(1);
    Answering({}, [this] { gtk_button_clicked(GTK_BUTTON(Page()->pWriteCacheBtn)); });
    EXPECT_TRUE(fake_->settings.empty());
    EXPECT_EQ(Caption(Page()->pWriteCacheBtn), "Disable");

    fake_->unreadable.clear();
    HoldFocus(window_->pWindow);
    gFuncs.set_device_info_v2 = [](int, unsigned int, _ALTERABLE_DEVICE_INFO_V2*) -> int {
        return static_cast<int>(VTN_NO_RIGHT);
    };
    auto seen = Answering({{"Error", "OK"}}, [this] { gtk_button_clicked(GTK_BUTTON(Page()->pWriteCacheBtn)); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].labels.front(), "Failed to change the disk setting!");
    EXPECT_EQ(Caption(Page()->pWriteCacheBtn), "Disable");
    bool drawn = false;
    for (const SPageText& t : Page()->PageTexts)
        drawn = drawn || (t.y == 265 && t.text.rfind("Enabled", 0) == 0);
    EXPECT_TRUE(drawn);
}

// ---- against the server ----------------------------------------------------------------------

void FeatureScene(SimScene& s)
{
    s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1);
    const uint32_t d = s.Disk("Featured");
    s.Model().FindDisk(d)->features = kAllSupported;
}

class Features : public ServerGuiTest {
protected:
    CVTNTree* Page() { return Logical(); }

    // The simulated disk's feature byte.
    int SimFeatures()
    {
        const nlohmann::json state = SimState();
        for (const auto& d : state["disks"])
            if (d["model"] == "Featured")
                return d["features"].get<int>();
        ADD_FAILURE() << "no disk";
        return -1;
    }
};

TEST_F(Features, EachFeatureSwitchesOnAndOffFromThePage)
{
    Start(FeatureScene);
    ShowForms();
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Featured"));
    for (const Feature& f : kFeatures) {
        SCOPED_TRACE(f.name);
        for (bool on : {true, false}) {
            GtkWidget* button = Page()->*f.button;
            EXPECT_EQ(Caption(button), on ? "Enable" : "Disable");
            Answering({}, [button] { gtk_button_clicked(GTK_BUTTON(button)); });
            EXPECT_EQ(Caption(button), "...");
            EXPECT_EQ((SimFeatures() & f.on) != 0, on);
            // Drawn again: the state and the caption follow the disk.
            ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Featured"));
            EXPECT_EQ(Caption(button), on ? "Disable" : "Enable");
        }
    }
    EXPECT_EQ(SimFeatures(), kAllSupported);
}

TEST_F(Features, AUserWithoutDeviceRightsIsToldAndSeesTheRealState)
{
    ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat",
                              raw::UserLine(kDefaultUser, kDefaultPassword, VTN_RIGHTS_ALL & ~VTN_RIGHTS_DEVICE_ANY)));
    Start(FeatureScene);
    ShowForms();
    HoldFocus(window_->pWindow);
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Featured"));
    auto seen = Answering({{"Error", "OK"}}, [this] { gtk_button_clicked(GTK_BUTTON(Page()->pTCQBtn)); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].labels.front(), "Failed to change the disk setting!");
    EXPECT_EQ(Caption(Page()->pTCQBtn), "Enable");
    EXPECT_EQ(SimFeatures(), kAllSupported);
}

}  // namespace
