/* Launch requests and launches: the client side of one application session.
 * A request collects the launch parameters of the server (and of a helper
 * that embeds the application) until it is complete; it then becomes a
 * launch of one of six kinds, chosen by the placement, which creates the
 * frame with its engine channel, connects it to the application server,
 * sends the login-dialog connect request and follows the launch states
 * until the session is suspended, ends or fails.
 *
 * A launch that reaches state 0, 6, 7 or 8 is destroyed from a 0 ms timer,
 * never inside the call that reported the state: those reports come from
 * inside the engine channel's own handler, which still uses the channel
 * after it returns. From then on the launch ignores further states. */
#ifndef HV_DILAUNCH_H
#define HV_DILAUNCH_H

#include "core/diutil.h"
#include "session/dilaunchparams.h"

#include <initializer_list>

struct DiChannel;
struct DiDEManager;
struct DiFrame;
struct DiLAIPDialog;
struct DiTimer;
class CHelperConnection;

/* The common base of requests and launches. The effective id is `altId`
 * when set, else `id`. */
class CLaunchInfo {
  public:
    DiLaunchParams params;
    DiChar* id = nullptr;
    DiChar* altId = nullptr;

    virtual ~CLaunchInfo();
    const DiChar* EffectiveId() const { return altId ? altId : id; }
    bool MatchesId(const DiChar* text) const;
    void SetId(const DiChar* text);
    /* Matches the transaction id or the session id of its parameters. */
    bool MatchesTransaction(const DiChar* transactionId, const DiChar* sessionId) const;
};

class CLaunchRequest : public CLaunchInfo {
  public:
    CHelperConnection* helper = nullptr; /* not owned */
    uint32_t helperWindow = 0;
    /* The launch dialog shown while the request waits; owned until the
     * launch takes it. */
    DiObject* progressWindow = nullptr;

    ~CLaunchRequest() override;
    /* Makes the launch dialog unless "-noprogress" is given or one exists
     * (an existing one stays as it is, shown or not); shown at once in
     * "About to start the application..." when show. */
    void CreateProgressWindow(bool show);
    /* Shows the dialog made hidden, in "About to start the application...". */
    void ShowProgressWindow();
    /* The dialog for the launch, which owns it from then on. */
    DiObject* TakeProgressWindow();

    void SetHelper(CHelperConnection* h, uint32_t window) {
        helper = h;
        helperWindow = window;
    }
    /* Placement 1 needs a helper and the session texts and port, and then a
     * window unless the helper does more than host; placement 6 needs a
     * local command or a URL; others the session texts and port. */
    bool IsComplete() const;
};

/* The launch states (the progress window's states). */
enum : int32_t {
    DI_LAUNCH_DISCONNECTED = 0,
    DI_LAUNCH_STARTING = 1,
    DI_LAUNCH_CONNECTED = 5,
    DI_LAUNCH_SUSPENDED = 6,
    DI_LAUNCH_ENDED = 7,
    DI_LAUNCH_FAILED = 8,
    DI_LAUNCH_WAIT_HELPER = 12,
};

class CLaunch : public CLaunchInfo {
  public:
    DiFrame* frame = nullptr;
    int32_t state = DI_LAUNCH_DISCONNECTED;
    DiLAIPDialog* pendingDialog = nullptr;
    DiChar* pendingMessageId = nullptr;
    /* Set once a final state was taken: the removal timer is armed. */
    bool finishing = false;
    DiTimer* removeTimer = nullptr;
    /* Scopes of the outpost holding this launch while a box or dialog of
     * its own is up; removed meanwhile, it is freed when the last returned. */
    int32_t boxesUp = 0;
    bool removalHeld = false;

    ~CLaunch() override;
    /* Starts with the request's launch dialog, or none; the launch owns the
     * dialog from here, also when it does not start. */
    virtual bool Start(bool secure, DiObject* progress);
    DiChannel* GetEngineChannel() const;
    DiDEManager* GetEngineManager() const;
    virtual void ResumeLoginDialog();
    virtual void Raise();
    virtual void OnReady() {}
    virtual void OnConnecting() {}
    virtual bool CreateFrame(uint32_t mode);
    virtual void FitFrame();
    virtual CHelperConnection* GetHelper() const { return nullptr; }
    virtual void SetHelper(CHelperConnection*) {}
    virtual uint32_t GetHelperWindow() const { return 0; }
    virtual bool IsBrowser() const { return false; }

    /* Logs and stores the state; see the file comment for the final ones. */
    void SwitchState(int32_t newState);
    /* Runs from the removal timer: destroys the frame (kept in state 8
     * with showOnError) and has the outpost delete the launch. */
    void Finish();
    /* Destroys the frame, or only the engine channel when keepFrame. */
    void DestroyFrame();
    void ShowProgress(bool show);
    void SetPendingDialog(const DiLAIPDialog* dialog);
    const DiChar* GetPendingUserName() const;
    void SetPendingMessageId(const DiChar* text);

  protected:
    /* The common start: frame (taking the given dialog as its progress
     * window), connection, connect request. */
    bool StartEngine(bool secure, uint32_t frameMode, DiObject* progress);
    bool Fail(int32_t message, std::initializer_list<DiFmtArg> args);
    /* The frame's window shows the application's short name. */
    void TitleFrame();
};

class CWindowLaunch : public CLaunch {
  public:
    void OnReady() override;
    void OnConnecting() override;
};

class CKioskLaunch : public CWindowLaunch {
  public:
    bool Start(bool secure, DiObject* progress) override {
        return StartEngine(secure, 2, progress);
    }
};

class CMultiWindowLaunch : public CLaunch {
  public:
    /* The application's own frames come up; the launch's frame stays
     * hidden. */
    void Raise() override;
    void OnReady() override;
    void OnConnecting() override;
};

class CLocalXLaunch : public CLaunch {
  public:
    void Raise() override {}
    void OnReady() override;
    void OnConnecting() override;
};

class CBrowserLaunch : public CLaunch {
  public:
    CHelperConnection* helper = nullptr;
    uint32_t helperWindow = 0;

    bool Start(bool secure, DiObject* progress) override;
    void ResumeLoginDialog() override;
    void Raise() override;
    void OnReady() override;
    void OnConnecting() override;
    CHelperConnection* GetHelper() const override { return helper; }
    void SetHelper(CHelperConnection* h) override { helper = h; }
    uint32_t GetHelperWindow() const override { return helperWindow; }
    bool IsBrowser() const override { return true; }
};

class CLocalWindowsLaunch : public CLaunch {
  public:
    bool Start(bool secure, DiObject* progress) override;
};

/* The launch of a complete request by its placement, in state 0 with no
 * frame, or none. */
CLaunch* diLaunchCreate(const CLaunchRequest* request);

/* The connect request's 64-byte block: the cookie's UTF-8 bytes and a
 * terminating zero. False when the cookie does not fit. */
bool diLaunchCookieBlock(const DiChar* cookie, uint8_t block[64]);

/* The token as the contents of a JavaScript string literal that is itself
 * part of a javascript: URL (so "%" is written %25), and as a URL query
 * value. New texts. */
DiChar* diLaunchJsToken(const DiChar* token);
DiChar* diLaunchUrlToken(const DiChar* token);

#endif
