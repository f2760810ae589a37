#include "FilePanel.h"

#include <QDir>
#include <QFileDialog>
#include <QAbstractItemView>
#include <QCompleter>
#include <QFileInfo>
#include <QLineEdit>
#include <functional>

#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/Path.h"

namespace {

std::vector<std::string> to_paths(const QStringList& list) {
  std::vector<std::string> paths;
  for (const QString& path : list) paths.push_back(path.toStdString());
  return paths;
}

// An open dialog that takes whatever exists, files and folders alike; the stock file modes
// take either files or folders, never both.
class AnyEntryDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  std::function<void(const QStringList&)> onChosen;

 protected:
  void accept() override {
    QStringList chosen;
    for (const QString& path : selectedFiles())
      if (QFileInfo::exists(path)) chosen << path;
    if (chosen.isEmpty()) return QFileDialog::accept();  // let the dialog open the folder typed
    QDialog::accept();
    onChosen(chosen);
  }
};

}  // namespace

BFilePanel::BFilePanel(file_panel_mode mode, BMessenger* target, const entry_ref* directory,
                       uint32 nodeFlavors, bool allowMultipleSelection, BMessage* message, void*,
                       bool modal, bool hideWhenDone)
    : mode_(mode),
      target_(target ? *target : BMessenger()),
      dialog_(mode == B_OPEN_PANEL ? std::make_unique<AnyEntryDialog>() : std::make_unique<QFileDialog>()),
      window_(dialog_.get()),
      hideWhenDone_(hideWhenDone) {
  SetMessage(message ? new BMessage(*message) : nullptr);
  dialog_->setOption(QFileDialog::DontUseNativeDialog);
  // The name field's completion list is a window of its own, which Qt leaves on screen when
  // the dialog closes while it shows.
  QObject::connect(dialog_.get(), &QDialog::finished, dialog_.get(), [this] {
    for (QLineEdit* edit : dialog_->findChildren<QLineEdit*>())
      if (edit->completer() != nullptr) edit->completer()->popup()->hide();
  });
  dialog_->setModal(modal);
  dialog_->setDirectory(QDir::homePath());
  if (directory != nullptr) SetPanelDirectory(directory);
  if (mode == B_SAVE_PANEL) {
    dialog_->setAcceptMode(QFileDialog::AcceptSave);
    dialog_->setFileMode(QFileDialog::AnyFile);
    QObject::connect(dialog_.get(), &QFileDialog::filesSelected, dialog_.get(),
                     [this](const QStringList& paths) { Chosen(to_paths(paths)); });
  } else {
    bool foldersOnly = nodeFlavors == B_DIRECTORY_NODE;
    dialog_->setFileMode(foldersOnly ? QFileDialog::Directory
                         : allowMultipleSelection ? QFileDialog::ExistingFiles
                                                  : QFileDialog::ExistingFile);
    static_cast<AnyEntryDialog*>(dialog_.get())->onChosen = [this](const QStringList& paths) { Chosen(to_paths(paths)); };
  }
}

BFilePanel::~BFilePanel() = default;

void BFilePanel::SetMessage(BMessage* message) {
  message_.reset(message ? message : new BMessage(mode_ == B_OPEN_PANEL ? B_REFS_RECEIVED : B_SAVE_REQUESTED));
}

void BFilePanel::SetPanelDirectory(const char* folder) {
  if (folder != nullptr) dialog_->setDirectory(QString::fromUtf8(folder));
}

void BFilePanel::SetPanelDirectory(const entry_ref* folder) {
  BPath path;
  if (folder != nullptr && path.SetTo(folder) == B_OK) SetPanelDirectory(path.Path());
}

void BFilePanel::SetSaveText(const char* text) {
  dialog_->selectFile(QString::fromUtf8(text ? text : ""));
}

void BFilePanel::Chosen(const std::vector<std::string>& paths) {
  BMessage message(*message_);
  if (mode_ == B_SAVE_PANEL && !paths.empty()) {
    QFileInfo chosen(QString::fromStdString(paths.front()));
    entry_ref folder;
    if (BEntry(chosen.absolutePath().toUtf8().constData()).GetRef(&folder) != B_OK) return;
    message.AddRef("directory", &folder);
    message.AddString("name", chosen.fileName().toUtf8().constData());
  } else {
    for (const std::string& path : paths) {
      entry_ref ref;
      if (BEntry(path.c_str()).GetRef(&ref) == B_OK) message.AddRef("refs", &ref);
    }
  }
  if (hideWhenDone_) Hide();
  target_.SendMessage(&message);
}

bool BFilePanel::PanelWindow::IsHidden() const { return !dialog_->isVisible(); }

void BFilePanel::PanelWindow::Activate(bool active) {
  if (!active) return;
  dialog_->raise();
  dialog_->activateWindow();
}

void BFilePanel::PanelWindow::Show() { dialog_->show(); }

void BFilePanel::PanelWindow::Hide() { dialog_->hide(); }
