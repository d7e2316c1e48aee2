// The System Configuration dialog: the server's request and event ports, written to its
// configuration file for its next start.
#include <string>

#include "client.h"
#include "drivergui.h"
#include "signfunc1.h"
#include "textutil.h"

_SYS_CONFIG SysConfig;

namespace {

void ForgetConfigWidgets(GtkWidget*, gpointer)
{
    SysConfig.pSystemPortEntry = SysConfig.pEventPortEntry = nullptr;
}

// OK of the dialog: checks the texts, asks, sends. True closes the dialog.
bool SysConfigOK(_CS_ALTERABLE_SERVER_PARAM* param, uint16_t openedServer, uint16_t openedEvent)
{
    const std::string texts[2] = {gtk_entry_get_text(GTK_ENTRY(SysConfig.pSystemPortEntry)),
                                  gtk_entry_get_text(GTK_ENTRY(SysConfig.pEventPortEntry))};
    uint16_t ports[2] = {};
    for (int i = 0; i < 2; ++i)
        if (!PortAccepted(texts[i].c_str(), &ports[i], "Error"))
            return false;
    if (ports[0] == ports[1]) {
        MessageBox("System Port can't be the same as Event Port.", "Error", false);
        return false;
    }
    if (ports[0] == openedServer && ports[1] == openedEvent)
        return true;  // nothing changed: nothing is sent
    if (MessageBox("Are you sure to change the system configuration?", "Confirmation", true) != 1)
        return true;
    param->serverPort = ports[0];
    param->eventPort = ports[1];
    param->flags |= VTN_PARAM_SERVER_PORT | VTN_PARAM_EVENT_PORT;
    if (cs_vtn_set_server_param(handle, param) != 0)
        return RequestFailed("Failed to change the system configuration.");
    MessageBox("System configuration changed, but it will not take effect\n until you restart the service.",
               "Confirmation", false);
    return true;
}

}  // namespace

void SetSysConfig()
{
    if (GetMainWindow() == nullptr || handle < 0 || SysConfig.pSystemPortEntry)
        return;
    _CS_ALTERABLE_SERVER_PARAM param{};
    if (cs_vtn_get_server_param(handle, &param) != 0)
        return;
    const uint16_t openedServer = param.serverPort, openedEvent = param.eventPort;

    GtkWidget* window = NewDialogWindow("System Configuration", 380, 120, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetConfigWidgets), nullptr);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_add(GTK_CONTAINER(window), row);
    GtkWidget* grid = FieldGrid(FieldsBeside(window, row));
    SysConfig.pSystemPortEntry = GridEntry(grid, 0, "System Port", 8);
    SysConfig.pEventPortEntry = GridEntry(grid, 1, "Event Port", 8);
    gtk_entry_set_text(GTK_ENTRY(SysConfig.pSystemPortEntry), std::to_string(openedServer).c_str());
    gtk_entry_set_text(GTK_ENTRY(SysConfig.pEventPortEntry), std::to_string(openedEvent).c_str());
    gtk_widget_show_all(window);
    RunDialog(window, [&] { return SysConfigOK(&param, openedServer, openedEvent); });
}
