/* The session menu model: a small tree of named components (root, status
 * item, File and Help menus and their leaves) that the server enables,
 * disables or hides by verb and activates by verb; the tray shows it as
 * the icon's tip and right-click menu. Also the tray's menu availability,
 * which modal dialogs take away while they are open. */
#ifndef HV_DISOUI_H
#define HV_DISOUI_H

#include "di.h"
#include "xml/qvlxml.h"

#include <string>
#include <vector>

class CServerOutpost;

enum { DI_SOUI_ENABLED = 0, DI_SOUI_DISABLED = 1, DI_SOUI_HIDDEN = 2 };

class CSOUIComponent {
  public:
    int32_t state = DI_SOUI_ENABLED;
    virtual ~CSOUIComponent() {}
    virtual int32_t GetState() { return state; }
    /* Components in this subtree, itself included. */
    virtual int CountItems() { return 1; }
    virtual int GetChildCount() { return 0; }
    virtual CQVLList<CSOUIComponent>* GetChildren() { return nullptr; }
    virtual const DiChar* GetVerb() = 0;
    /* The display text, cut to `size` units; false when there is none. */
    virtual bool GetText(DiChar* buffer, size_t size);
    virtual void Activate() {}
    virtual CSOUIComponent* Find(const DiChar* verb);
    virtual bool IsVisible() { return state != DI_SOUI_HIDDEN; }
};

/* What the leaves run: the outpost's windows and its exit. */
struct DiSOUIActions {
    void (*showEventLog)() = nullptr;
    void (*showConnectionInfo)() = nullptr;
    void (*showOptions)() = nullptr;
    void (*exit)() = nullptr;
    void (*showAbout)() = nullptr;
};

/* A leaf: a verb, the message of its text and what it runs. */
class CSOUIItem : public CSOUIComponent {
  public:
    CSOUIItem(const DiChar* verb, uint32_t message, void (*action)());
    const DiChar* GetVerb() override { return verb; }
    bool GetText(DiChar* buffer, size_t size) override;
    void Activate() override;

  private:
    const DiChar* verb;
    uint32_t message;
    void (*action)();
};

class CSOUIMenu : public CSOUIComponent {
  public:
    CSOUIMenu(const DiChar* verb, uint32_t message) : verb(verb), message(message) {}
    void AddChild(CSOUIComponent* child, bool owns) { children.Append(child, owns); }
    int CountItems() override;
    int GetChildCount() override { return static_cast<int>(children.count); }
    CQVLList<CSOUIComponent>* GetChildren() override { return &children; }
    const DiChar* GetVerb() override { return verb; }
    bool GetText(DiChar* buffer, size_t size) override;
    CSOUIComponent* Find(const DiChar* verb) override;
    bool IsVisible() override;

  private:
    CQVLList<CSOUIComponent> children;
    const DiChar* verb;
    uint32_t message;
};

/* The status item: who is connected where, from the outpost's state. */
class CSOUIServerItem : public CSOUIComponent {
  public:
    const DiChar* GetVerb() override { return u"_server"; }
    bool GetText(DiChar* buffer, size_t size) override;
};

class CSOUIRootMenu : public CSOUIMenu {
  public:
    explicit CSOUIRootMenu(const DiSOUIActions& actions);
    CSOUIServerItem server;
    CSOUIMenu* file;
    CSOUIMenu* help;
};

/* "enabled" 0, "disabled" 1, "hidden" 2, anything else -1. */
int32_t diSOUIParseState(const DiChar* word);
bool diSOUISameVerb(const DiChar* a, const DiChar* b);
/* Runs the component of `verb`; false when there is none. */
bool diSOUIActivateVerb(CSOUIComponent* root, const DiChar* verb);

/* One line of the tray menu: an item (with its component), the disabled
 * status line (no component) or a separator (no text). */
struct DiSOUIMenuLine {
    CSOUIComponent* component = nullptr;
    bool separator = false;
    bool popup = false;
    bool grayed = false;   /* greyed and disabled */
    bool disabled = false; /* the status line: disabled, not greyed */
    std::u16string text;
};
void diSOUIMenuLines(CSOUIRootMenu* root, std::vector<DiSOUIMenuLine>* lines);

/* The tray icon's tip: the status text when the status item is enabled,
 * cut to 63 units without splitting a character; else empty. */
void diSOUITipText(CSOUIRootMenu* root, DiChar tip[64]);

/* Whether the tray menu may open: modal dialogs nest (a dialog opened over
 * another), so the menu returns only when the last one closed, and never
 * while the root is not enabled. */
class DiSOTrayAccess {
  public:
    bool Available(CSOUIRootMenu* root) const {
        return depth == 0 && root && root->state == DI_SOUI_ENABLED && !blocked;
    }
    void Disable(void* owner) {
        depth++;
        owners.push_back(owner);
    }
    void Enable() {
        if (depth > 0) depth--;
        if (!owners.empty()) owners.pop_back();
    }
    /* The innermost open dialog's owner, to bring to the front. */
    void* Owner() const { return owners.empty() ? nullptr : owners.back(); }
    /* The root disabled or hidden: no menu whatever the dialogs. */
    bool blocked = false;

  private:
    int depth = 0;
    std::vector<void*> owners;
};

#endif
