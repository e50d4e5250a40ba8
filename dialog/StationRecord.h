#pragma once
// The service station's record: one CSV line for every burn on arrival,
// every Set All and every Set, in a file the operator chose, so that a
// quality engineer can tell weeks later which tablet got which file, when,
// at which station, by whom and with what verdict.
//
// Off until a file is chosen. The station's own fields (computer, user,
// program) are taken when it is chosen; the tablet's from the tablet link at
// each line.

#include "RecordFile.h"
#include "TabletEeprom.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

class CStationRecord {
public:
    // What ran, as the dialog knows it.
    struct Operation {
        const char* name = "";       // "auto-burn", "Set All", "Set"
        bool byteAddressed = false;  // Set: `address` and `value` apply
        int address = 0;
        int value = 0;
        std::string qcFile;          // full path, in the ANSI code page; empty for none
        const BYTE* sent = nullptr;  // the bytes sent, hashed; null for none
        std::size_t sentSize = 0;
        const char* verdict = "";
        int firstWrongAddress = -1;  // -1 for none
    };

    CStationRecord();

    // Records into the file at `path` (in the ANSI code page, as the file
    // dialog gave it) from now on, creating it with its header if it is new.
    // False when the file cannot be written now; it is chosen all the same.
    bool Start(const std::string& path);
    // Forgets the file. Lines still waiting are dropped: deal with them first.
    void Stop();
    bool IsOn() const { return m_bOn; }
    // The file's path as chosen; empty while off.
    const std::string& Path() const { return m_strPath; }

    // Writes the line for `operation` on the tablet `eeprom` has open (its
    // identity, and what its last write did). True when the line is on the
    // disk, or the record is off.
    bool Record(const Operation& operation, CTabletEeprom& eeprom);
    // Writes the lines still waiting; true when none waits.
    bool WriteWaiting();
    // Writes the waiting lines into the file at `path` instead (ANSI code
    // page); true when they all went there.
    bool SaveWaitingTo(const std::string& path);
    // For an end of session, when nobody can be asked where: the waiting
    // lines go into a file of their own, record-waiting-<local time>.csv in
    // TabletUpdate under the user's local application data. True when none
    // waited or they all went there.
    bool SaveWaitingForLater();
    // Drops the first `count` lines waiting.
    void DropWaiting(std::size_t count) { m_file.DropWaiting(count); }
    std::size_t Waiting() const { return m_file.Waiting(); }
    // The record is on and its file refused the last write: lines wait (or
    // the file could not even be created).
    bool Troubled() const { return m_bOn && m_file.LastError() != 0; }
    // True once for each spell of trouble: the operator is to be told.
    bool TakeTroubleToTell();

    // The operator's words for the trouble, and for a failed save elsewhere.
    std::string TroubleText() const;
    std::string SaveFailedText(const std::string& path) const;
    // The result line with the note that lines wait, and without it.
    static std::string WithNote(const std::string& result);
    static std::string WithoutNote(const std::string& result);

    // A QC data file's image as loaded: a Set All of the same bytes names it.
    void ImageLoaded(const std::string& path, const BYTE* image, std::size_t size);
    // The file whose loaded image `image` is, or empty.
    std::string LoadedFileFor(const BYTE* image, std::size_t size) const;

private:
    std::string Reason() const;
    bool Settled(bool written);

    CRecordFile m_file;
    bool m_bOn = false;
    bool m_bTold = false;
    std::string m_strPath;
    std::string m_strComputer;
    std::string m_strUser;
    std::string m_strLoadedFile;
    std::vector<BYTE> m_loadedImage;
};
