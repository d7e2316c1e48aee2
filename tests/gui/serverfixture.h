// A main window beside the real vtnsvr on a simulated controller, both under the test's VTN_ROOT:
// the server started with chosen users and named in the systems list, logins through the login
// form, and an answerer for the message boxes that come at times a script cannot know.
// Header-only.
#pragma once
#include <poll.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client.h"
#include "harness.h"
#include "netfuncs.h"
#include "signfunc.h"
#include "svrfixture.h"

// The lines of a text, without their line feeds.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        out.push_back(text.substr(pos, end - pos));
        pos = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

// Answers every message box ("Confirmation", "Warning", "Error") that opens, with the button that
// choose names for its title and text ("OK" without choose), through a responder.
class BoxAnswerer {
public:
    using Choose = std::function<std::string(const std::string& title, const std::string& text)>;
    explicit BoxAnswerer(Choose choose = nullptr, int watchdogMs = 120000)
        : responder_({}, watchdogMs), choose_(std::move(choose))
    {
        watch_ = g_timeout_add(20, Watch, this);
    }
    ~BoxAnswerer() { g_source_remove(watch_); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // The boxes answered so far: title, then the text.
    std::vector<std::pair<std::string, std::string>> Seen() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (const SeenWindow& w : responder_.Seen())
            out.push_back({w.title, w.labels.empty() ? "" : w.labels.front()});
        return out;
    }
    size_t Count() const { return responder_.Seen().size(); }
    // Runs the main loop until cond holds and every box seen is answered.
    bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 30000)
    {
        return ::PumpUntil([&] { return cond() && responder_.Done(); }, timeoutMs) && responder_.WaitDone(timeoutMs);
    }

private:
    static gboolean Watch(gpointer p)
    {
        auto* self = static_cast<BoxAnswerer*>(p);
        for (const char* title : {"Confirmation", "Warning", "Error"})
            for (GtkWidget* w : TopWindows(title)) {
                if (g_object_get_data(G_OBJECT(w), "vtn-answer-scheduled"))
                    continue;
                auto labels = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_LABEL(x); });
                const std::string text = labels.empty() ? "" : gtk_label_get_text(GTK_LABEL(labels.front()));
                g_object_set_data(G_OBJECT(w), "vtn-answer-scheduled", GINT_TO_POINTER(1));
                self->responder_.Add({title, self->choose_ ? self->choose_(title, text) : "OK", nullptr, w});
            }
        return G_SOURCE_CONTINUE;
    }

    Responder responder_;
    Choose choose_;
    unsigned int watch_ = 0;
};

class ServerGuiTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        SetClientWaitSeconds(30);
        server_ = std::make_unique<ServerProcess>(root_);
    }
    void TearDown() override
    {
        GuiTest::TearDown();
        server_.reset();
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }

    // Users file lines (raw::UserLine) for the server, then the server on preset; the systems list
    // names it as its one row "127.0.0.1" / "local" / its port.
    bool StartServer(const std::string& users, const std::string& preset = "sata4")
    {
        if (!users.empty() && !raw::WriteSystemFile("/etc/vtnuser.dat", users))
            return false;
        return server_->Start(preset) &&
               raw::WriteSystemFile("/usr/bin/vtnsys.log", "127.0.0.1\tlocal\t" + std::to_string(server_->Port()) + "\n");
    }

    // The server takes one client at a time and frees its slot a moment after a session ends: waits
    // until it greets a newcomer again.
    bool WaitServerFree()
    {
        _VTN_LOGIN_GREETING greeting{};
        const int sock = raw::ConnectGreeted(server_->Port(), &greeting);
        if (sock < 0)
            return false;
        close(sock);
        return true;
    }

    // Fills the open login form; a port text replaces the row's when given.
    static std::function<void(GtkWidget*)> Fill(const std::string& user, const std::string& password,
                                                const std::optional<std::string>& port = std::nullopt)
    {
        return [user, password, port](GtkWidget*) {
            gtk_entry_set_text(GTK_ENTRY(NewSys.pUserEntry), user.c_str());
            gtk_entry_set_text(GTK_ENTRY(NewSys.pPasswordEntry), password.c_str());
            if (port)
                gtk_entry_set_text(GTK_ENTRY(NewSys.pPortEntry), port->c_str());
        };
    }

    // Connect: the login form answered with user and password, then the answers that follow.
    void LogInAs(const std::string& user, const std::string& password, std::vector<Answer> after = {})
    {
        ASSERT_TRUE(WaitServerFree());
        std::vector<Answer> script{{"Login Form", "OK", Fill(user, password)}};
        script.insert(script.end(), after.begin(), after.end());
        Responder r(script);
        LogSystem();
        EXPECT_TRUE(r.WaitDone());
    }

    // Disconnect with its question answered OK.
    void LogOut()
    {
        Responder r(std::vector<Answer>{{"Confirmation", "OK"}});
        EXPECT_TRUE(LogoutSystem());
        EXPECT_TRUE(r.WaitDone());
    }

    // The status bar's text.
    std::string StatusText() const
    {
        GtkWidget* area = gtk_statusbar_get_message_area(GTK_STATUSBAR(window_->pStatusBar));
        auto labels = FindWidgets(area, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
        return labels.empty() ? "" : gtk_label_get_text(GTK_LABEL(labels.front()));
    }

    // True once the event channel of the connection has something to read (or was closed).
    static bool EventChannelReadable(int waitMs)
    {
        _Vtn_Client_Connection* c = ConnectedSlot(handle);
        if (c == nullptr || c->eventSocket < 0)
            return false;
        pollfd p{c->eventSocket, POLLIN, 0};
        return poll(&p, 1, waitMs) > 0;
    }

    std::unique_ptr<ServerProcess> server_;
};
