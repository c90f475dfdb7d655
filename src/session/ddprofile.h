/* The Windows halves of the profile store and the settings file: both live
 * in the folder "Vek\VHVN" of the user's local application data. */
#ifndef HV_DDPROFILE_H
#define HV_DDPROFILE_H

#include "dd.h"

#include "session/diprofile.h"
#include "session/disettings.h"

/* The store over profile.xml (or the path set by ddProfStoreSetPath; an
 * empty one keeps everything in memory). Construction builds the path and
 * loads the profile named by "-profile". */
class CWinProfileStore : public CProfileStore {
  public:
    CWinProfileStore();
    ~CWinProfileStore() override;
    void BuildFilePath() override;
    FileState ReadFileBytes(std::string* bytes) override;
    bool WriteFileBytes(const std::string& bytes) override;
    bool SetAsideBadFile(std::u16string* kept) override;
    /* A named mutex of the file's path: copies of the client running at
     * once save one after the other. */
    bool LockFile() override;
    void UnlockFile() override;
    /* Into the "-preferredlanguage" option. */
    void UsePreferredLanguage(const DiChar* language) override;
    /* Into the certificate cache as the session's certificate file. */
    void UseCertsFile(const DiChar* path) override;

  private:
    HANDLE lock = nullptr; /* held across a save */
};

/* Settings files in the store's folder. */
class CWinSettingsFile : public CSettingsFile {
  public:
    /* Makes the folders when missing and a new empty file "s<id>-<n>.dat". */
    bool CreateUniqueFile() override;
    /* name is a plain file name in the folder (no path); false when it is
     * not, or when the file does not load. */
    bool Open(const DiChar* name) override;
    bool ReadFileBytes(std::string* bytes) override;
    bool WriteFileBytes(const std::string& bytes) override;
};

/* The store's folder (local application data, "\Vek\VHVN") into buffer
 * (size in characters), creating nothing; false when it does not fit or the
 * shell folder is unknown. */
bool ddProfGetFolder(wchar_t* buffer, size_t size);

/* A run's own files in the store's folder carry its process id in their
 * names, so that a later run can tell whether the run that made them still
 * runs: settings files "s<id>-<n>.dat" and the session certificate file
 * "hv<id, hex>.tmp.pem". */
std::wstring ddProfSessionCertsPath(const std::wstring& folder);
/* Whether path is a session certificate file in the store's folder that
 * the run which made it may still be writing. The profile's certificate
 * file and session cookie are saved together: neither is used once that
 * run has ended. */
bool ddProfSessionCertsOfLiveRun(const wchar_t* path);

#endif
