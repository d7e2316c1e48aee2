// The GUI test harness: GTK started once per test program, a fixture that builds and tears down
// the main window under a temporary VTN_ROOT, a responder that answers modal windows from a script,
// a watchdog, and screenshots.
#pragma once
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string>
#include <vector>

#include "../system/rawclient.h"  // raw::WriteSystemFile
#include "drivergui.h"
#include "testutil.h"

// Runs the main loop until cond holds or timeoutMs passes; cond's last answer.
bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000);
// Runs whatever the main loop has ready, for at least ms milliseconds of its own clock.
void PumpFor(int ms);

// The trimmed text of a widget's first descendant label ("    OK    " -> "OK"); empty without one.
std::string WidgetCaption(GtkWidget* widget);
// Every descendant of root (internal children included) for which pick holds, in widget order.
std::vector<GtkWidget*> FindWidgets(GtkWidget* root, const std::function<bool(GtkWidget*)>& pick);
// The first button under root whose trimmed caption is caption; null without one.
GtkWidget* FindButton(GtkWidget* root, const std::string& caption);
// The visible top-level windows titled title (every one for an empty title).
std::vector<GtkWidget*> TopWindows(const std::string& title = "");

// What the responder found in a window before it answered it.
struct SeenWindow {
    std::string title;
    std::vector<std::string> labels;   // every label's text
    std::vector<std::string> buttons;  // every button's trimmed caption, in widget order
    std::vector<GdkPixbuf*> images;    // every picture shown
    int width = 0, height = 0;         // the window's size request
};

// One scripted answer: the window (by title, or the very widget), and the caption of the button to
// click, or "" to close the window with its close box. before runs when the window is found,
// before the click.
struct Answer {
    std::string title;
    std::string button;
    std::function<void(GtkWidget*)> before = nullptr;
    GtkWidget* window = nullptr;
    // Click with the real pointer at the button's place on the screen (XTest) instead of
    // gtk_button_clicked.
    bool pointer = false;
};

// Answers modal windows in the order of its script. A window is looked for every 20 ms and taken
// once it is mapped and laid out; the window holding the input grab is preferred, so a box opened on top of another is found first.
// The click comes from a one-shot idle, so a window opened by the click can itself be answered.
// The watchdog fails the test when the script is not done within watchdogMs, and destroys every
// window but the main window so that no wait hangs.
class Responder {
public:
    explicit Responder(std::vector<Answer> script, int watchdogMs = 30000);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    void Add(Answer answer);
    // While the guard is on and every answer was given, a window that takes the input grab (a box
    // that something waits on), other than those open when the guard went on and those answered,
    // fails the test at once and is destroyed; the watchdog fails the test too while the guard is on.
    void GuardOn();
    void GuardOff() { guard_ = false; }
    bool Done() const { return next_ >= script_.size(); }
    const std::vector<SeenWindow>& Seen() const { return seen_; }
    // Waits (running the main loop) until every answer was given.
    bool WaitDone(int timeoutMs = 30000);

private:
    static gboolean Poll(gpointer self);
    static gboolean Watchdog(gpointer self);
    static gboolean Click(gpointer self);
    // Handles the events of the real click just sent, until GTK has taken its release: until then
    // no further window is answered (an answer given meanwhile could be undone by the click).
    void TakeClick();
    void FailFurtherWindow();
    void Know(GtkWidget* window);
    static void Forget(gpointer self, GObject* gone);

    std::vector<Answer> script_;
    size_t next_ = 0;
    std::vector<SeenWindow> seen_;
    unsigned int poll_ = 0, watchdog_ = 0, click_ = 0;
    GtkWidget* pending_ = nullptr;   // the button or window of the click to come
    bool pendingClose_ = false;
    bool pendingPointer_ = false;
    bool guard_ = false;
    bool inBefore_ = false;           // an answer's before() runs
    std::vector<GtkWidget*> known_;   // windows open when the guard went on, and those answered
};

// Runs op answering the script in order and waits until every answer was given; what the answered
// windows showed. A box that op waits on after the last answer fails the test at once (and is
// closed); the watchdog fails it when the script is not done or op still waits after watchdogMs.
// No window titled as one of gone may be left open.
std::vector<SeenWindow> Answering(std::vector<Answer> script, const std::function<void()>& op,
                                  int watchdogMs = 30000,
                                  const std::vector<std::string>& gone = {"Warning", "Error", "Confirmation"});

// ---- real input (XTest) ---------------------------------------------------------------------------

// Where a realized widget lies on the screen, in root coordinates.
GdkRectangle ScreenRect(GtkWidget* widget);
// The size of the screen the tests run on.
GdkRectangle ScreenArea();
// Moves the real pointer to the point of the screen and clicks button 1 there, with the modifier
// keysyms held (e.g. {GDK_KEY_Control_L}). False (and nothing sent) when the point lies outside the
// screen, where no user could click.
bool PointerClickAt(int x, int y, const std::vector<guint>& held = {});
// The same at the middle of the widget, once a frame has drawn what changed in its window; false
// when it is not shown.
bool PointerClick(GtkWidget* widget, const std::vector<guint>& held = {});
// The same without waiting for a frame: where the widget was last laid out.
bool PointerClickAsDrawn(GtkWidget* widget, const std::vector<guint>& held = {});
// The same at the middle of a row of a tree view's first column (shown, scrolled to).
bool PointerClickRow(GtkWidget* view, int row);
// Clicks into the entry, selects what it holds and types text over it (or pastes it: a TAB's key
// moves the focus), then waits until the entry holds text. False when it does not.
bool TypeIntoEntry(GtkWidget* entry, const std::string& text, bool paste = false);
// Presses and releases the keys of text (printable ASCII) on the real keyboard; the window under
// the pointer takes them.
void TypeKeys(const std::string& text);
// Presses keyval with the given modifier keysyms held (e.g. {GDK_KEY_Control_L}).
void PressKey(guint keyval, const std::vector<guint>& held = {});
// Runs the main loop until GTK has handled every event the X server sent for the input so far.
void HandleXEvents();
// Gives window the X input focus (without a window manager nothing else does), its focus-in handled.
void FocusX(GtkWidget* window);
// Runs the main loop through one frame of the window: what changed in it is then laid out and
// drawn (a row just added has its place).
void WaitFrame(GtkWidget* top);
// Clicks the first button with the pointer at the middle of widget once it is shown and laid out;
// handled on return. A window the click opens waits as it would for a user: a responder answers it.
void ClickWidget(GtkWidget* widget);

// Real failures of file writes while it is on: a full disk (the files of this process may not grow,
// so a write fails with EFBIG) or a read-only folder (chmod 0555, the files accessed as an
// unprivileged user when the tests run as root).
class WriteFailure {
public:
    enum Kind { kFullDisk, kReadOnlyFolder };
    WriteFailure(Kind kind, std::string folder) : kind_(kind), folder_(std::move(folder)) {}
    ~WriteFailure() { Off(); }
    WriteFailure(const WriteFailure&) = delete;
    WriteFailure& operator=(const WriteFailure&) = delete;
    void On();
    void Off();

private:
    Kind kind_;
    std::string folder_;
    std::unique_ptr<FileSizeLimit> full_;
    std::unique_ptr<Unprivileged> user_;
    bool readOnly_ = false;
};

// A main window built as main builds it, torn down after each test: the window destroyed and
// deleted, no top-level window left, the globals it used back as they were.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Builds the main window (once per test).
    CMainWindow* StartMainWindow();
    // Destroys and deletes the main window; nothing when there is none.
    void CloseMainWindow();

    TempRoot root_;
    CMainWindow* window_ = nullptr;
};

// Saves what the display shows of a top-level window as a PNG file.
bool SaveWidgetPng(GtkWidget* widget, const std::string& path);
// Where a test saves a picture: $VTN_SCREENSHOT_DIR when set (for a person to look at), else the
// test's VTN_ROOT.
std::string ScreenshotPath(const std::string& name);
// Saves the window as the picture file at ScreenshotPath and checks that it was written.
void ExpectShot(GtkWidget* widget, const std::string& file);
// Saves what the whole screen shows as the picture file at ScreenshotPath and checks that it was
// written.
void ExpectScreenShot(const std::string& file);
// An answer's before: runs first (when given), then saves the window as the picture file at
// ScreenshotPath and checks that it was written.
std::function<void(GtkWidget*)> ShotAnswer(const std::string& file, std::function<void(GtkWidget*)> first = nullptr);

