// The RAID creation wizard: its window, steps 1 and 2 with their handlers, the parameter summary,
// moving between the steps and closing. Step 3 and Finish are in createarray_disks.cpp.
#include "createarray.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "drivergui.h"
#include "drivergui_list.h"
#include "textutil.h"

CCreateArray CreateArrayForm;

const char* const CreateArrayListTitles[2] = {"Param", "Value"};
const char* const InforListTitles[3] = {"Name", "Capacity", "Location"};

CCreateArray* GetCreateArray()
{
    return &CreateArrayForm;
}

void CloseCreateArray()
{
    GetCreateArray()->CloseWizard();
}

namespace {

const char* const kWizardTitle = "Vorathine RAID Management Software";
const char* const kUsedName = "The Name had been used, please input other name.";
const char* const kInvalidName = "Array name can only contain\n '-','_',letters and numbers.";
const char* const kNoBuildQuestion =
    "This option is not recommended. It can only be used\n when the data and parity in the selected disks\n are in "
    "a consistent state. Continue?";
const char* const kOptionKey = "vtn-option";

void AppendRow(GtkWidget* list, const char* param, const char* value)
{
    const char* row[] = {param, value};
    ColumnListAppend(list, row);
}

// Writes a Value of the parameter list; a row the list does not hold yet is left alone (handlers
// run while a form is built).
void SetValue(int row, const char* value)
{
    CCreateArray* w = GetCreateArray();
    if (w->pParamList && row >= 0 && row < ColumnListRows(w->pParamList))
        ColumnListSetText(w->pParamList, row, 1, value);
}

// A combo of the texts with the wanted one active; a text the list does not hold falls back to the
// first entry, and kept follows what is active. Nothing is active in an empty list.
GtkWidget* ComboOf(const std::vector<std::string>& texts, const char* wanted, char* kept, size_t keptSize)
{
    GtkWidget* combo = gtk_combo_box_text_new();
    int active = texts.empty() ? -1 : 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), texts[i].c_str());
        if (texts[i] == wanted)
            active = static_cast<int>(i);
    }
    if (active >= 0) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
        CopyText(kept, keptSize, texts[static_cast<size_t>(active)].c_str());
    }
    return combo;
}

// A row of a caption and a widget.
GtkWidget* LabelledRow(const char* caption, GtkWidget* widget)
{
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    GtkWidget* label = gtk_label_new(caption);
    gtk_widget_set_size_request(label, 90, -1);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), widget, TRUE, TRUE, 0);
    return row;
}

const char* OptionLabel(uint32_t option)
{
    switch (option) {
    case VTN_OPTION_DUPLICATE: return "Create and Duplicate";
    case VTN_OPTION_ZERO_BUILD: return "Zero Build";
    case VTN_OPTION_SCRUB: return "Scrub (build parity)";
    case VTN_OPTION_NO_BUILD: return "No Build";
    default: return "Create Only";
    }
}

// Row of the "Creation Option" value: after the block size for RAID 5.
int OptionRow()
{
    return GetCreateArray()->nRaidCode == VTN_RAID5 ? 3 : 2;
}

// An option radio that became the active one of its group.
bool OptionChosen(GtkWidget* radio, uint32_t option)
{
    CCreateArray* w = GetCreateArray();
    if (w->pWizard == nullptr || !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio)))
        return false;
    w->nCreateOption = option;
    SetValue(OptionRow(), OptionLabel(option));
    return true;
}

void OnStep1(GtkButton*, gpointer)
{
    GetCreateArray()->CreateRAIDStep1();
}

void OnStep2(GtkButton*, gpointer)
{
    GetCreateArray()->CreateRAIDStep2();
}

void OnStep3(GtkButton*, gpointer)
{
    GetCreateArray()->CreateRAIDStep3();
}

void OnStep3Back(GtkButton* button, gpointer)
{
    CCreateArray::Step3Back(GTK_WIDGET(button));
}

void OnFinish(GtkButton*, gpointer)
{
    GetCreateArray()->CreateRAIDFinish();
}

void OnCancel(GtkButton* button, gpointer)
{
    CCreateArray::destroywin(GTK_WIDGET(button), nullptr);
}

gboolean OnDelete(GtkWidget* window, GdkEvent*, gpointer)
{
    CCreateArray::destroywin(window, nullptr);
    return TRUE;
}

// The widgets go with the window, whoever destroys it (a step, Cancel, the main window).
void OnWizardDestroy(GtkWidget* window, gpointer)
{
    CCreateArray* w = GetCreateArray();
    if (w->pWizard == window)
        w->CloseWizard();
}

void OnTypeChanged(GtkComboBox* combo, gpointer)
{
    nameentry(GTK_WIDGET(combo), nullptr);
}

void OnNameChanged(GtkEditable* entry, gpointer)
{
    namechange(GTK_WIDGET(entry), nullptr);
}

void OnBlockChanged(GtkComboBox* combo, gpointer)
{
    blockentry(GTK_WIDGET(combo), nullptr);
}

using RadioHandler = void (*)(GtkWidget*, void*);

void OnRadioToggled(GtkToggleButton* radio, gpointer handler)
{
    reinterpret_cast<RadioHandler>(handler)(GTK_WIDGET(radio), nullptr);
}

}  // namespace

GtkWidget* SummaryList(GtkWidget* list)
{
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), GTK_SELECTION_NONE);
    for (int c = 0; c < ColumnListColumns(list); ++c)
        ColumnListTextOnly(list, c);
    return ScrolledColumnList(list);
}

CCreateArray::CCreateArray()
    : pWizard(nullptr), pBackBtn(nullptr), pNextBtn(nullptr), pFinishBtn(nullptr), pTypeCombo(nullptr),
      pNameEntry(nullptr), pBlockCombo(nullptr), pOptionFrame(nullptr), pParamList(nullptr), bBuilding(0),
      bKeepValues(0), nRaidCode(0), szRaidType{}, szArrayName{}, nBlockCode(0), szBlockSize{}, nCreateOption(0),
      nDiskRowEnd(0), nDiskRowFirst(0), pAvailDisks(nullptr), pSelectedDisks(nullptr), pDiskInfo(nullptr),
      pAddArrow(nullptr), pRemoveArrow(nullptr), pNoBuildRadio(nullptr), pRaid5Group(nullptr),
      pFormBuilder(nullptr), nConnection(0)
{
}

void CCreateArray::ResetValues()
{
    bBuilding = 0;
    bKeepValues = 0;
    nRaidCode = 0;
    memset(szRaidType, 0, sizeof szRaidType);
    memset(szArrayName, 0, sizeof szArrayName);
    nBlockCode = 0;
    memset(szBlockSize, 0, sizeof szBlockSize);
    nCreateOption = 0;
    nDiskRowEnd = 0;
    nDiskRowFirst = 0;
    CopyText(szBlockSize, "64K");
}

void CCreateArray::ForgetWidgets()
{
    pWizard = pBackBtn = pNextBtn = pFinishBtn = nullptr;
    pTypeCombo = pNameEntry = pBlockCombo = pOptionFrame = pParamList = nullptr;
    pAvailDisks = pSelectedDisks = pDiskInfo = pAddArrow = pRemoveArrow = pNoBuildRadio = nullptr;
    pRaid5Group = nullptr;
}

void CCreateArray::CloseWizard()
{
    GtkWidget* window = pWizard;
    ForgetWidgets();
    if (window)
        gtk_widget_destroy(window);
}

bool CCreateArray::Stands() const
{
    CMainWindow* win = GetMainWindow();
    return pWizard != nullptr && win != nullptr && handle >= 0 && win->nConnectCount == nConnection;
}

bool CCreateArray::StandsOrClose()
{
    if (Stands())
        return true;
    CloseWizard();
    return false;
}

void CCreateArray::BaseForm()
{
    CMainWindow* win = GetMainWindow();
    pWizard = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(pWizard), kWizardTitle);
    gtk_container_set_border_width(GTK_CONTAINER(pWizard), 1);
    gtk_widget_set_size_request(pWizard, 640, 400);
    if (win && win->pWindow) {
        gtk_window_set_transient_for(GTK_WINDOW(pWizard), GTK_WINDOW(win->pWindow));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(pWizard), TRUE);
        gtk_window_set_position(GTK_WINDOW(pWizard), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(pWizard), GTK_WIN_POS_CENTER);
    }
    g_signal_connect(pWizard, "delete-event", G_CALLBACK(OnDelete), nullptr);
    JoinSession(pWizard);
    g_signal_connect(pWizard, "destroy", G_CALLBACK(OnWizardDestroy), nullptr);

    GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(pWizard), vbox);
    GtkWidget* hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(vbox), hbox, TRUE, TRUE, 0);

    pParamList = NewColumnList(2, CreateArrayListTitles);
    // At least 100 pixels, and room for its longest title in this font.
    ColumnListSetMinWidth(pParamList, 0, 100);
    ColumnListSetWidth(pParamList, 1, 0);
    GtkWidget* scrolled = SummaryList(pParamList);
    gtk_widget_set_size_request(scrolled, 220, 210);
    gtk_box_pack_start(GTK_BOX(hbox), scrolled, FALSE, FALSE, 0);

    GtkWidget* right = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(right), 10);
    gtk_box_pack_start(GTK_BOX(hbox), right, TRUE, TRUE, 0);
    if (pFormBuilder)
        if (GtkWidget* form = pFormBuilder())
            gtk_box_pack_start(GTK_BOX(right), form, TRUE, TRUE, 0);

    GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(bottom), 5);
    gtk_box_pack_end(GTK_BOX(vbox), bottom, FALSE, FALSE, 0);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_widget_set_margin_end(buttons, 20);
    gtk_box_pack_end(GTK_BOX(bottom), buttons, FALSE, FALSE, 0);
    GtkWidget* cancel = CreateButton("Cancel");
    g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancel), nullptr);
    pBackBtn = CreateButton("<<Back");
    pNextBtn = CreateButton("Next>>");
    pFinishBtn = CreateButton("Finish");
    for (GtkWidget* b : {cancel, pBackBtn, pNextBtn, pFinishBtn})
        gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    gtk_widget_show_all(pWizard);
}

void CCreateArray::NewStep(GtkWidget* (*builder)(), GCallback back, GCallback next, GCallback finish)
{
    pFormBuilder = builder;
    BaseForm();
    if (back)
        g_signal_connect(pBackBtn, "clicked", back, nullptr);
    else
        gtk_widget_set_sensitive(pBackBtn, FALSE);
    for (auto [button, handler] : {std::pair{pNextBtn, next}, std::pair{pFinishBtn, finish}}) {
        if (handler)
            g_signal_connect(button, "clicked", handler, nullptr);
        else
            gtk_widget_hide(button);
    }
}

void CCreateArray::SetPareList(int mode)
{
    if (pParamList == nullptr)
        return;
    AppendRow(pParamList, "Array Type", szRaidType);
    AppendRow(pParamList, "Array Name", szArrayName);
    if (mode != 1)
        return;
    const bool block = nRaidCode == VTN_RAID0 || nRaidCode == VTN_RAID10 || nRaidCode == VTN_RAID01 ||
                       nRaidCode == VTN_RAID5;
    if (block)
        AppendRow(pParamList, "Block Size", szBlockSize);
    if (nRaidCode == VTN_RAID1)
        AppendRow(pParamList, "Creation Option", nCreateOption != 0 ? "Create and Duplicate" : "Create Only");
    if (nRaidCode == VTN_RAID5) {
        const uint32_t o = nCreateOption == VTN_OPTION_SCRUB || nCreateOption == VTN_OPTION_NO_BUILD
                               ? nCreateOption
                               : static_cast<uint32_t>(VTN_OPTION_ZERO_BUILD);
        AppendRow(pParamList, "Creation Option", OptionLabel(o));
    }
    nDiskRowFirst = static_cast<uint32_t>(ColumnListRows(pParamList));
    nDiskRowEnd = nDiskRowFirst;
    AppendRow(pParamList, "Selected Disks", " ");
}

void CCreateArray::destroywin(GtkWidget*, void*)
{
    CCreateArray* w = GetCreateArray();
    GtkWidget* shown = w->pWizard;
    if (shown == nullptr)
        return;
    if (MessageBox("Are you sure that you want to close RAID Creation Wizard?", "Confirmation", true) == 1 &&
        w->pWizard == shown)
        w->CloseWizard();
}

// ---- step 1 ------------------------------------------------------------------------------------

void CCreateArray::CreateRAIDStep1()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return;
    // A way back within the wizard needs the connection it was opened on.
    if (bKeepValues && !StandsOrClose())
        return;
    CloseWizard();
    if (!bKeepValues) {
        ResetValues();
        nConnection = win->nConnectCount;
    }
    NewStep(CreateRAIDStep1Form, nullptr, G_CALLBACK(OnStep2), nullptr);
    // Without a kind to choose (the driver offers none) there is nothing to go on with.
    gtk_widget_set_sensitive(pNextBtn, nRaidCode != 0);
}

GtkWidget* CCreateArray::CreateRAIDStep1Form()
{
    CCreateArray* w = GetCreateArray();
    CMainWindow* win = GetMainWindow();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 15);
    GtkWidget* text = gtk_label_new(
        "Please select the array type and enter the array name. Array \nname can only be made up of letters, "
        "numbers, '_'and '-'.");
    gtk_label_set_xalign(GTK_LABEL(text), 0.0f);
    gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 0);

    std::vector<std::string> types;
    if (win)
        win->SupportPara.GetRAIDTypeList(types);
    // The entry is the kept type, else RAID0; a type the driver no longer offers gives the first.
    w->bBuilding = 1;
    char type[sizeof w->szRaidType];
    CopyText(type, w->bKeepValues ? w->szRaidType : "RAID0");
    w->pTypeCombo = ComboOf(types, type, w->szRaidType, sizeof w->szRaidType);
    gtk_box_pack_start(GTK_BOX(box), LabelledRow("Array Type", w->pTypeCombo), FALSE, FALSE, 0);

    w->pNameEntry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(w->pNameEntry), win ? win->SupportPara.GetRAIDNameLength() : 8);
    g_signal_connect(w->pNameEntry, "changed", G_CALLBACK(OnNameChanged), nullptr);
    gtk_box_pack_start(GTK_BOX(box), LabelledRow("Array Name", w->pNameEntry), FALSE, FALSE, 0);

    g_signal_connect(w->pTypeCombo, "changed", G_CALLBACK(OnTypeChanged), nullptr);
    if (!types.empty())
        nameentry(w->pTypeCombo, nullptr);
    w->bBuilding = 0;
    w->bKeepValues = 1;
    return box;
}

void nameentry(GtkWidget*, void*)
{
    CCreateArray* w = GetCreateArray();
    if (w->pWizard == nullptr || w->pTypeCombo == nullptr || w->pNameEntry == nullptr || w->pParamList == nullptr)
        return;
    ColumnListClear(w->pParamList);
    const std::string type = ComboActiveText(w->pTypeCombo);
    w->nRaidCode = static_cast<uint32_t>(GetRAIDTypeValue(type.c_str()));
    if (w->nRaidCode == VTN_RAID1)
        w->nCreateOption = VTN_OPTION_CREATE_ONLY;
    else if (w->nRaidCode == VTN_RAID5)
        w->nCreateOption = VTN_OPTION_ZERO_BUILD;
    AppendRow(w->pParamList, "Array Type", type.c_str());
    char name[sizeof w->szArrayName] = {};
    if (w->bBuilding && w->bKeepValues)
        CopyText(name, w->szArrayName);
    else
        DefaultRAIDName(static_cast<int>(w->nRaidCode), name, sizeof name);
    // The default replaces whatever was typed.
    gtk_entry_set_text(GTK_ENTRY(w->pNameEntry), name);
    AppendRow(w->pParamList, "Array Name", name);
}

void namechange(GtkWidget* entry, void*)
{
    if (GetCreateArray()->pWizard && entry)
        SetValue(1, gtk_entry_get_text(GTK_ENTRY(entry)));
}

void CCreateArray::CreateRAIDStep2()
{
    if (!StandsOrClose())
        return;
    if (pTypeCombo) {
        const std::string type = ComboActiveText(pTypeCombo);
        if (!type.empty())
            CopyText(szRaidType, type.c_str());
        nRaidCode = static_cast<uint32_t>(GetRAIDTypeValue(szRaidType));
    }
    if (pNameEntry) {
        // Only letters, digits, '-' and '_' pass, so a name that passes is as long in bytes as
        // the entry allows in characters.
        char name[sizeof szArrayName];
        CopyText(name, gtk_entry_get_text(GTK_ENTRY(pNameEntry)));
        TrimSpace(name);
        if (GetSameRAIDName(name)) {
            MessageBox(kUsedName, "Warning", false);
            return;
        }
        if (name[0] == 0 || GetInvalName(name)) {
            MessageBox(kInvalidName, "Warning", false);
            return;
        }
        CopyText(szArrayName, name);
    }
    // JBOD has no step 2; step 3 replaces this window itself.
    if (nRaidCode == VTN_JBOD) {
        CreateRAIDStep3();
        return;
    }
    CloseWizard();
    NewStep(CreateRAIDStep2Form, G_CALLBACK(OnStep1), G_CALLBACK(OnStep3), nullptr);
    SetPareList(0);
    switch (nRaidCode) {
    case VTN_RAID0:
    case VTN_RAID10:
    case VTN_RAID01:
        gtk_widget_set_sensitive(pOptionFrame, FALSE);
        AppendRow(pParamList, "Block Size", " ");
        break;
    case VTN_RAID1:
        gtk_widget_set_sensitive(pBlockCombo, FALSE);
        AppendRow(pParamList, "Creation Option", " ");
        break;
    case VTN_RAID5:
        AppendRow(pParamList, "Block Size", " ");
        AppendRow(pParamList, "Creation Option", " ");
        break;
    default:
        break;
    }
}

// ---- step 2 ------------------------------------------------------------------------------------

GtkWidget* CCreateArray::CreateRAIDStep2Form()
{
    CCreateArray* w = GetCreateArray();
    CMainWindow* win = GetMainWindow();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 15);

    std::vector<std::string> sizes;
    if (win)
        win->SupportPara.GetBlockSizelist(sizes);
    char wanted[sizeof w->szBlockSize];
    CopyText(wanted, w->szBlockSize);
    w->pBlockCombo = ComboOf(sizes, wanted, w->szBlockSize, sizeof w->szBlockSize);
    g_signal_connect(w->pBlockCombo, "changed", G_CALLBACK(OnBlockChanged), nullptr);
    gtk_box_pack_start(GTK_BOX(box), LabelledRow("Block Size", w->pBlockCombo), FALSE, FALSE, 0);

    w->pOptionFrame = gtk_frame_new("Creation Option");
    gtk_widget_set_margin_start(w->pOptionFrame, 50);
    gtk_widget_set_margin_end(w->pOptionFrame, 50);
    gtk_box_pack_start(GTK_BOX(box), w->pOptionFrame, FALSE, FALSE, 0);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(column), 10);
    gtk_container_add(GTK_CONTAINER(w->pOptionFrame), column);

    struct Radio {
        uint32_t code;
        RadioHandler handler;
    };
    std::vector<Radio> radios;
    if (w->nRaidCode == VTN_RAID1)
        radios = {{VTN_OPTION_CREATE_ONLY, raid1create}, {VTN_OPTION_DUPLICATE, raid1init}};
    else if (w->nRaidCode == VTN_RAID5)
        radios = {{VTN_OPTION_ZERO_BUILD, raid5zerobuild}, {VTN_OPTION_SCRUB, raid5scrub},
                  {VTN_OPTION_NO_BUILD, raid5nobuild}};
    std::vector<GtkWidget*> buttons;
    GtkWidget* active = nullptr;
    for (const Radio& r : radios) {
        GtkWidget* radio = buttons.empty() ? gtk_radio_button_new_with_label(nullptr, OptionLabel(r.code))
                                           : gtk_radio_button_new_with_label_from_widget(
                                                 GTK_RADIO_BUTTON(buttons.front()), OptionLabel(r.code));
        g_object_set_data(G_OBJECT(radio), kOptionKey, GUINT_TO_POINTER(r.code));
        gtk_box_pack_start(GTK_BOX(column), radio, FALSE, FALSE, 0);
        if (r.code == w->nCreateOption)
            active = radio;
        buttons.push_back(radio);
        if (r.code == VTN_OPTION_NO_BUILD)
            w->pNoBuildRadio = radio;
    }
    // The state is set before the handlers listen, so building the form asks nothing.
    if (!buttons.empty()) {
        if (active == nullptr) {
            active = buttons.front();
            w->nCreateOption = radios.front().code;
        }
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(active), TRUE);
        if (w->nRaidCode == VTN_RAID5)
            w->pRaid5Group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(active));
    }
    for (size_t i = 0; i < buttons.size(); ++i)
        g_signal_connect(buttons[i], "toggled", G_CALLBACK(OnRadioToggled), reinterpret_cast<gpointer>(radios[i].handler));
    return box;
}

void blockentry(GtkWidget* combo, void*)
{
    if (GetCreateArray()->pWizard && combo)
        SetValue(2, ComboActiveText(combo).c_str());
}

void raid1create(GtkWidget* radio, void*)
{
    OptionChosen(radio, VTN_OPTION_CREATE_ONLY);
}

void raid1init(GtkWidget* radio, void*)
{
    OptionChosen(radio, VTN_OPTION_DUPLICATE);
}

void raid5zerobuild(GtkWidget* radio, void*)
{
    OptionChosen(radio, VTN_OPTION_ZERO_BUILD);
}

void raid5scrub(GtkWidget* radio, void*)
{
    OptionChosen(radio, VTN_OPTION_SCRUB);
}

void raid5nobuild(GtkWidget* radio, void*)
{
    CCreateArray* w = GetCreateArray();
    const uint32_t before = w->nCreateOption;
    if (!OptionChosen(radio, VTN_OPTION_NO_BUILD))
        return;
    GtkWidget* shown = w->pWizard;
    if (MessageBox(kNoBuildQuestion, "Confirmation", true) == 1 || w->pWizard != shown)
        return;
    // Cancel takes the choice back to the option that was active before.
    for (GSList* l = w->pRaid5Group; l; l = l->next)
        if (GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(l->data), kOptionKey)) == before)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(l->data), TRUE);
}

void CCreateArray::CreateRAIDStep3()
{
    if (!StandsOrClose())
        return;
    if (nRaidCode != VTN_JBOD && pBlockCombo) {
        const std::string block = ComboActiveText(pBlockCombo);
        if (!block.empty())
            CopyText(szBlockSize, block.c_str());
    }
    nBlockCode = static_cast<uint32_t>(GetBlockSizeValue(szBlockSize));
    CloseWizard();
    NewStep(CreateRAIDStep3Form, G_CALLBACK(OnStep3Back), nullptr, G_CALLBACK(OnFinish));
    SetPareList(1);
}
