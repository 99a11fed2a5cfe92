// The main window: the device number, archive file creation, the archive reading with its
// indicator, and the way to the COM port settings. It owns the serial port and the device link
// for the whole run.
#pragma once

#include "app/ReadingView.h"
#include "archive/ArchiveOps.h"
#include "archive/EventDictionary.h"
#include "link/Comportclass.h"
#include "serial/Comport.h"
#include "serial/PortDirectory.h"

#include <QIcon>
#include <QMainWindow>
#include <array>
#include <atomic>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QToolButton;
class QDragEnterEvent;
class QDropEvent;

namespace kve17 {

class TFormPort;
class TArchiveViewer;

// The selected device number minus one, 0 to 30. Written only by the device list.
extern int DeviceIndex;
// The last archive file name choice: ArchiveFileName and ArchiveFileExt.
extern TArchiveNameState ArchiveFile;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DeviceCount = 31;
    static constexpr int ImageCount = 18;
    static constexpr int ImagePort = 16;
    static constexpr int ImageOpenFile = 17;
    static constexpr int ImageViewArchive = 15;

    // The window keeps its own copy of the port directory; the COM port dialog lists it.
    TForm1(IOperatorPrompt& prompt, TPortDirectory ports, TLinkTiming timing = {},
           QWidget* parent = nullptr);
    ~TForm1() override;

    // The COM port settings dialog behind APort; it is created after the window.
    void SetPortDialog(TFormPort* form) { formPort_ = form; }
    // Where a reading's new records are kept (a file or a postgresql:// string); none at first.
    void SetHistory(std::optional<std::string> where) { history_ = std::move(where); }
    // The folders the viewers read the names of event codes from, in order.
    void SetEventFolders(std::vector<std::filesystem::path> folders) {
        eventFolders_ = std::move(folders);
    }
    const TPortDirectory& Ports() const { return ports_; }
    // True from the press of "Чтение архива" until the reading has ended.
    bool Reading() const { return reading_; }

    // Components, in the order the window describes them.
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton5 = nullptr;
    QToolButton* ToolButton6 = nullptr;
    QMenu* N1File = nullptr;
    QMenu* N1 = nullptr;
    QMenu* N3 = nullptr;
    QAction* AOpenFile = nullptr;
    QAction* APort = nullptr;
    QAction* AClose = nullptr;
    QAction* AViewArchive = nullptr;
    QAction* AViewHistory = nullptr;
    std::array<QIcon, ImageCount> ImageList1;
    QLabel* Label2 = nullptr;
    QComboBox* CBoxUstr = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label5 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    TComPort ComPort1;
    // After the components: it drives ComPort1.
    TComPortClass Link;

    void FormCreate();
    void CBoxUstrClick(int index);
    void FormClose();
    void CreatFileClick();
    void PortClick();
    void Button2Click();
    void ViewArchiveClick();
    void ViewHistoryClick();
    // Opens a viewer window on an archive file; a file that cannot be shown is refused with a
    // message naming it, and nothing is opened.
    TArchiveViewer* OpenViewer(const QString& path);
    // The names of event codes, read anew so that an edit shows in the next viewer; what is
    // wrong with the files goes to `viewer` once it is open.
    std::shared_ptr<const TEventDictionary> EventNames(QStringList& problems) const;
    // The files named on the command line, a viewer each.
    void OpenViewers(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void LoadImages();
    void BuildActions();
    void BuildMenu();
    void BuildToolBar();
    void BuildControls();
    void SetCommandsEnabled(bool enabled);
    void ReadingEnded(std::exception_ptr failure);
    void KeepHistory(int device, const TReadingResult& result, std::string_view failure = {});

    IOperatorPrompt& prompt_;
    TPortDirectory ports_;
    TFormPort* formPort_ = nullptr;
    std::optional<TReadingView> view_; // made once the indicator exists
    std::thread reader_;
    std::optional<std::string> history_;
    std::vector<std::filesystem::path> eventFolders_ = EventDictionaryFolders();
    bool reading_ = false;
    bool closePending_ = false;
    bool destroying_ = false;
    std::atomic<bool> readerDone_ = false;
};

} // namespace kve17
