// The creation wizard's tests over a fake of the driver calls: a main window whose model talks to
// a FakeDriver that offers every kind (RAID 1 at most two disks, the others eight), block sizes
// 8K to 128K and names of 15 characters. Header-only.
#pragma once
#include <memory>
#include <utility>
#include <vector>

#include "fakedriver.h"
#include "wizardtest.h"

class WizardFake : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        fake_ = std::make_unique<FakeDriver>();
        SetCaps({{VTN_RAID0, 8}, {VTN_RAID1, 2}, {VTN_RAID5, 8}, {VTN_JBOD, 8}, {VTN_RAID01, 8}, {VTN_RAID10, 8}});
        fake_->caps.minBlockCode = 4;
        fake_->caps.maxBlockCode = 8;
        fake_->caps.maxNameLength = 15;
        StartMainWindow();
        // Nothing comes from the fake's event channel; the timer stays out of the way.
        window_->bTimerOn = false;
        window_->SupportPara.ProbeVersion();
    }
    void TearDown() override
    {
        CloseCreateArray();
        fake_.reset();
        GuiTest::TearDown();
    }

    // The kinds the driver reports with their largest member counts; read at the next probe.
    void SetCaps(const std::vector<std::pair<uint8_t, uint8_t>>& types)
    {
        memset(fake_->caps.raidTypes, 0, sizeof fake_->caps.raidTypes);
        memset(fake_->caps.maxMembers, 0, sizeof fake_->caps.maxMembers);
        for (size_t i = 0; i < types.size() && i < sizeof fake_->caps.raidTypes; ++i) {
            fake_->caps.raidTypes[i] = types[i].first;
            fake_->caps.maxMembers[i] = types[i].second;
        }
    }

    static bool AtStep1() { return Wiz()->pWizard && Wiz()->pTypeCombo && Wiz()->pNameEntry; }
    static bool AtStep2() { return Wiz()->pWizard && Wiz()->pBlockCombo && Wiz()->pOptionFrame; }
    static bool AtStep3() { return Wiz()->pWizard && Wiz()->pAvailDisks && Wiz()->pSelectedDisks; }

    std::unique_ptr<FakeDriver> fake_;
};
