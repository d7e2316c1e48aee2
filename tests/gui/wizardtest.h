// Helpers of the creation wizard's tests: what the wizard's window shows (the parameter rows, the
// combos, the disk lists, the option radios) and the hands that work it. Header-only.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "dialogs/createarray.h"
#include "drivergui_list.h"
#include "harness.h"

inline CCreateArray* Wiz()
{
    return GetCreateArray();
}

// The parameter list as "Param=Value" lines.
inline std::vector<std::string> ParamRows()
{
    std::vector<std::string> out;
    GtkWidget* list = Wiz()->pParamList;
    for (int r = 0; list && r < ColumnListRows(list); ++r)
        out.push_back(ColumnListText(list, r, 0) + "=" + ColumnListText(list, r, 1));
    return out;
}

inline std::vector<std::string> ComboTexts(GtkWidget* combo)
{
    std::vector<std::string> out;
    GtkTreeModel* model = combo ? gtk_combo_box_get_model(GTK_COMBO_BOX(combo)) : nullptr;
    GtkTreeIter iter;
    for (bool ok = model && gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &iter, 0, &text, -1);
        out.push_back(text ? text : "");
        g_free(text);
    }
    return out;
}

inline std::string ComboText(GtkWidget* combo)
{
    gchar* text = combo ? gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo)) : nullptr;
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

// Makes the entry with that text the active one (its "changed" handler runs); false without one.
inline bool ChooseText(GtkWidget* combo, const std::string& text)
{
    const auto texts = ComboTexts(combo);
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(combo), static_cast<int>(i));
            return true;
        }
    return false;
}

inline std::string NameText()
{
    return Wiz()->pNameEntry ? gtk_entry_get_text(GTK_ENTRY(Wiz()->pNameEntry)) : "";
}

inline void TypeName(const std::string& name)
{
    gtk_entry_set_text(GTK_ENTRY(Wiz()->pNameEntry), name.c_str());
}

// The option radios of step 2: label and state, in order.
inline std::vector<std::pair<std::string, bool>> Radios()
{
    std::vector<std::pair<std::string, bool>> out;
    for (GtkWidget* r : FindWidgets(Wiz()->pOptionFrame, [](GtkWidget* w) { return GTK_IS_RADIO_BUTTON(w); }))
        out.push_back({WidgetCaption(r), gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r)) != 0});
    return out;
}

inline std::string ActiveOption()
{
    for (const auto& [label, on] : Radios())
        if (on)
            return label;
    return "";
}

// Makes the radio with that label active (its handler runs); false without one.
inline bool ChooseOption(const std::string& label)
{
    for (GtkWidget* r : FindWidgets(Wiz()->pOptionFrame, [](GtkWidget* w) { return GTK_IS_RADIO_BUTTON(w); }))
        if (WidgetCaption(r) == label) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r), TRUE);
            return true;
        }
    return false;
}

inline std::vector<GtkListBoxRow*> DiskRows(GtkWidget* list)
{
    std::vector<GtkListBoxRow*> out;
    for (int i = 0; list; ++i) {
        GtkListBoxRow* row = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), i);
        if (row == nullptr)
            break;
        out.push_back(row);
    }
    return out;
}

// The names a disk list shows, in order.
inline std::vector<std::string> DiskNames(GtkWidget* list)
{
    std::vector<std::string> out;
    for (GtkListBoxRow* row : DiskRows(list))
        out.push_back(WidgetCaption(GTK_WIDGET(row)));
    return out;
}

inline std::string SelectedDisk(GtkWidget* list)
{
    GtkListBoxRow* row = list ? gtk_list_box_get_selected_row(GTK_LIST_BOX(list)) : nullptr;
    return row ? WidgetCaption(GTK_WIDGET(row)) : "";
}

inline bool SelectDisk(GtkWidget* list, const std::string& name)
{
    for (GtkListBoxRow* row : DiskRows(list))
        if (WidgetCaption(GTK_WIDGET(row)) == name) {
            gtk_list_box_select_row(GTK_LIST_BOX(list), row);
            return true;
        }
    return false;
}

// The information row of step 3: name, capacity, location.
inline std::vector<std::string> InfoRow()
{
    GtkWidget* list = Wiz()->pDiskInfo;
    if (list == nullptr || ColumnListRows(list) < 1)
        return {};
    return {ColumnListText(list, 0, 0), ColumnListText(list, 0, 1), ColumnListText(list, 0, 2)};
}

inline bool Shown(GtkWidget* w)
{
    return w && gtk_widget_get_visible(w);
}

inline bool Sensitive(GtkWidget* w)
{
    return w && gtk_widget_get_sensitive(w);
}

inline void Click(GtkWidget* button)
{
    ASSERT_NE(button, nullptr);
    gtk_button_clicked(GTK_BUTTON(button));
}

// The first label of a window the responder saw: a message box's text.
inline std::string BoxText(const SeenWindow& w)
{
    return w.labels.empty() ? "" : w.labels.front();
}

// Walks a fresh wizard to step 3: the type, then (unless JBOD) step 2 with a block size and an
// option when given. The answers of the No Build question, when it comes, are the caller's.
inline void WalkToStep3(const std::string& type, const std::string& block = "", const std::string& option = "",
                        const std::string& name = "")
{
    CreateArray();
    ASSERT_NE(Wiz()->pWizard, nullptr);
    ASSERT_TRUE(ChooseText(Wiz()->pTypeCombo, type)) << type;
    if (!name.empty())
        TypeName(name);
    Click(Wiz()->pNextBtn);
    if (type != "JBOD") {
        ASSERT_NE(Wiz()->pBlockCombo, nullptr) << "step 2";
        if (!block.empty()) {
            ASSERT_TRUE(ChooseText(Wiz()->pBlockCombo, block)) << block;
        }
        if (option == "No Build") {
            Answering({{"Confirmation", "OK"}}, [] { ChooseOption("No Build"); });
        } else if (!option.empty()) {
            ASSERT_TRUE(ChooseOption(option)) << option;
        }
        Click(Wiz()->pNextBtn);
    }
    ASSERT_NE(Wiz()->pAvailDisks, nullptr) << "step 3";
}

// Moves the named disks to the selection, in order, with the right arrow.
inline void AddDisks(const std::vector<std::string>& names)
{
    for (const std::string& n : names) {
        ASSERT_TRUE(SelectDisk(Wiz()->pAvailDisks, n)) << n;
        Click(Wiz()->pAddArrow);
    }
}
