#pragma once

#include <QObject>

#include <memory>
#include <string>

class IWindowHost;
class QProcess;

// "Открыть как папку": the open collection file mounted by fendrel-mount at
// $XDG_RUNTIME_DIR/fendrel/NAME and opened in the desktop's file manager. The folder stays
// mounted while the window runs, and is unmounted when the window closes or opens another
// collection file.
class TMountCommand final : public QObject {
    Q_OBJECT
public:
    // What the command needs of the machine.
    struct TTools {
        std::string Program;       // fendrel-mount
        std::string FuseDevice;    // /dev/fuse
        std::string Unmounter;     // fusermount3
        std::string RuntimeFolder; // where the folders of mounts are made
        // fendrel-mount beside the running program, or on the PATH; fusermount3 on the PATH;
        // $XDG_RUNTIME_DIR. A tool that is not found is left empty.
        [[nodiscard]] static TTools Installed();
    };
    // host outlives this.
    explicit TMountCommand(IWindowHost& host, TTools tools = TTools::Installed());
    ~TMountCommand() override;

    // Mounts the collection file (once) and opens the folder; a box says why when it cannot.
    void OpenAsFolder();
    // The window holds another collection now: the folder of another file is unmounted.
    void CollectionReplaced();
    // The folder mounted now; empty when none is.
    [[nodiscard]] const std::string& MountedFolder() const { return Folder_; }
    // Unmounts the folder, when one is mounted, and waits for fendrel-mount to end.
    void Unmount();

    // How long fendrel-mount may take to mount a collection: reading a big one takes a few
    // seconds.
    static constexpr int kMountWaitMs = 30000;

private:
    [[nodiscard]] bool Mounted() const;
    void Fail(const std::string& utf8);

    IWindowHost& Host_;
    TTools Tools_;
    std::unique_ptr<QProcess> Process_;
    std::string Folder_;
    std::string File_;
};
