#pragma once
// Puts new content in a file's place so that the file is never left half
// written: the content goes into a new file beside it, which then replaces
// it in one step.

#include <windows.h>

#include <functional>
#include <string>

class FileSystem;

class FileReplacement {
public:
    enum class Outcome {
        Replaced,         // the file holds the new content
        Unchanged,        // nothing changed: the file is as it was (or still absent)
        ReadOnly,         // refused at once, the file is read-only; it is as it was
        Link,             // refused at once, the name is a symbolic link or junction; nothing changed
        FolderRefused,    // no file could be made beside it (`error` says why); it is as it was
        ContentElsewhere, // failed half way: no file has the name now, the content is in `contentFile`
    };
    struct Result {
        Outcome outcome = Outcome::Unchanged;
        // FolderRefused: the error of the attempt to make a file in the folder.
        DWORD error = ERROR_SUCCESS;
        // ContentElsewhere only, full paths: the file that holds the new
        // content, and where the file that had the name went (empty: it is gone).
        std::string contentFile;
        std::string previousFile;
    };
    // Given what the file holds now (empty when there is none), the content
    // that is to replace it.
    using Rewrite = std::function<std::string(const std::string& old)>;

    // `target` is a full path. `files` makes every file call.
    FileReplacement(FileSystem& files, const std::string& target);
    // Deletes the new file and the reserved backup name unless the result
    // names them.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Reads the file at the name (never through a link), has `rewrite` make
    // the new content, and puts it in place. A file another program holds
    // open for a moment is waited for, about a second at most; a replaced
    // file keeps its attributes.
    Result Run(const Rewrite& rewrite);

private:
    bool ReadTarget(std::string& content, Outcome& refusal);
    bool TargetFree();
    Outcome Replace();
    Outcome Recover();
    bool MoveIn(DWORD replace);
    void KeepAttributes();

    FileSystem& m_files;
    const std::string m_target;
    std::string m_copy;   // the new content's file beside the target
    std::string m_backup; // the name the old file goes to while it is replaced
    DWORD m_attributes = INVALID_FILE_ATTRIBUTES;
    bool m_backupHoldsOld = false;
};
