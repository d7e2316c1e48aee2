// Helpers of the repair and spare tests: the rows of a device list and how to pick them, the
// controller's records by name, a runner that answers a script of windows and fails on any other
// window, and a fixture on a scene of two controllers. Header-only.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "drivergui_repair.h"
#include "guiserver.h"

// The captions of a device list's rows, in order.
inline std::vector<std::string> Captions(GtkWidget* list)
{
    std::vector<std::string> out;
    for (int i = 0; i < ItemCount(list); ++i)
        out.push_back(WidgetCaption(ItemAt(list, i)));
    return out;
}

// The device list of a dialog.
inline GtkWidget* ListIn(GtkWidget* window)
{
    auto lists = FindWidgets(window, [](GtkWidget* w) { return GTK_IS_LIST_BOX(w); });
    return lists.empty() ? nullptr : lists.front();
}

// Selects exactly the rows with these captions, in this order (none: no row selected).
inline void PickRows(GtkWidget* list, const std::vector<std::string>& captions)
{
    gtk_list_box_unselect_all(GTK_LIST_BOX(list));
    const std::vector<std::string> all = Captions(list);
    for (const std::string& c : captions) {
        auto at = std::find(all.begin(), all.end(), c);
        ASSERT_NE(at, all.end()) << "no row \"" << c << "\"";
        gtk_list_box_select_row(GTK_LIST_BOX(list), GTK_LIST_BOX_ROW(ItemAt(list, static_cast<int>(at - all.begin()))));
    }
}

// The texts of the labels of a window that are not in its list or on its buttons.
inline std::vector<std::string> Prompts(GtkWidget* window)
{
    std::vector<std::string> out;
    for (GtkWidget* l : FindWidgets(window, [](GtkWidget* w) { return GTK_IS_LABEL(w); }))
        if (!gtk_widget_get_ancestor(l, GTK_TYPE_LIST_BOX) && !gtk_widget_get_ancestor(l, GTK_TYPE_BUTTON))
            out.push_back(gtk_label_get_text(GTK_LABEL(l)));
    return out;
}

// What a repair dialog showed when it was answered.
struct SeenDialog {
    std::vector<std::string> prompts;
    std::vector<std::string> items;
};

// An answer to a "RAID Checking" dialog: the rows picked (in order), then the button; what the
// dialog showed goes to *seen.
inline Answer Checking(const std::string& button, std::vector<std::string> pick, SeenDialog* seen = nullptr)
{
    return {"RAID Checking", button, [pick, seen](GtkWidget* w) {
                GtkWidget* list = ListIn(w);
                ASSERT_NE(list, nullptr);
                if (seen)
                    *seen = {Prompts(w), Captions(list)};
                PickRows(list, pick);
            }};
}

// A message box by title and button whose text must be text.
inline Answer Box(const std::string& title, const std::string& button, const std::string& text)
{
    return {title, button, [text, title](GtkWidget* w) {
                auto prompts = Prompts(w);
                EXPECT_TRUE(!prompts.empty() && prompts.front() == text)
                    << title << " shows \"" << (prompts.empty() ? "" : prompts.front()) << "\", not \"" << text << "\"";
            }};
}

// Runs op, answering exactly the script; a window the script does not name fails the test.
inline void RunScript(std::vector<Answer> script, const std::function<void()>& op, int watchdogMs = 120000)
{
    Answering(std::move(script), op, watchdogMs);
}

// The controller's record of a disk by model name, or of an array by name; null when none.
inline nlohmann::json Find(const nlohmann::json& state, const char* kind, const char* key, const std::string& value)
{
    for (const auto& r : state[kind])
        if (r[key] == value)
            return r;
    return nullptr;
}

// Two controllers: the first with 32 places, where the scenes put every disk; the second for a
// disk on another controller (this driver builds no array across controllers).
inline void TwoControllers(SimScene& s)
{
    s.Controller("VTN ATA133 16-Channel RAID Controller", 16, 2, VTN_BUS_ATA133);
    s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1);
}

// A disk named model on the second controller.
inline uint32_t FarDisk(SimScene& s, const std::string& model, uint64_t gb)
{
    uint32_t id = 0;
    std::string error;
    EXPECT_TRUE(s.Model().PlugDisk(1, 0, 0, gb, 0, &id, &error)) << error;
    s.Model().FindDisk(id)->model = model;
    return id;
}

// The location text of a disk record of the controller's state (its first controller has more
// than two channels).
inline std::string Location(const nlohmann::json& disk)
{
    return "Location : Controller " + std::to_string(disk["controller"].get<int>() + 1) + ", Channel " +
           std::to_string(disk["channel"].get<int>() + 1) + ", Device " + std::to_string(disk["device"].get<int>() + 1);
}

// The server on a scene of two controllers (TwoControllers, then the scene), the device forms
// built; the controller's disks found and worked by model name.
class SceneTest : public ServerGuiTest {
protected:
    // Starts on the scene; the timer stays off unless a test turns it on.
    void StartOn(const std::function<void(SimScene&)>& scene)
    {
        Start([&](SimScene& s) {
            TwoControllers(s);
            scene(s);
        });
        ShowForms();
    }
    uint32_t DiskId(const std::string& model)
    {
        nlohmann::json d = Find(SimState(), "disks", "model", model);
        return d.is_null() ? 0 : d["id"].get<uint32_t>();
    }
    // vtnsim fail, pull, ... on a disk named by its model.
    void SimOn(const char* command, const std::string& model)
    {
        const uint32_t id = DiskId(model);
        ASSERT_NE(id, 0u) << model;
        ASSERT_EQ(server_.Sim({command, std::to_string(id)}), 0);
    }
};
