#include "about/frm_about.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QShowEvent>
#include <QTextOption>
#include <QVBoxLayout>

#include "about/version_info.h"
#include "about/version_resource.h"
#include "ui/fonts.h"
#include "ui/placement.h"
#include "ui/text.h"

namespace varnok {

Tfrm_About* frm_About = nullptr;

namespace {

constexpr int kClientWidth = 375;
constexpr int kClientHeight = 96;

}  // namespace

std::string AboutText(const std::string& file_version) {
  return "Varnok file version: " + file_version +
         "\r\n"
         "Written by the Varnok developers\r\n"
         "\r\n"
         "For comments, bug reports and source code write to\r\n"
         "varnok@example.org\r\n"
         "Also have a look at https://www.example.org/varnok";
}

Tfrm_About::Tfrm_About(QWidget* owner) : Tfrm_About(owner, kRunningExecutable) {}

Tfrm_About::Tfrm_About(QWidget* owner, const std::string& executable)
    : QDialog(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      Memo(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("frm_About"));
  setWindowTitle(QStringLiteral("About ") + (owner != nullptr ? owner->windowTitle() : QString()));
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(ui::DesignFont());

  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  palette.setColor(QPalette::Text, palette.color(QPalette::WindowText));
  setPalette(palette);
  setAutoFillBackground(true);

  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  Memo->setReadOnly(true);
  Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo->setFocusPolicy(Qt::StrongFocus);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QTextOption option = Memo->document()->defaultTextOption();
  option.setAlignment(Qt::AlignHCenter);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Memo->document()->setDefaultTextOption(option);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);

  const VersionInfo info = ReadVersionInfo(executable);
  // The memo keeps its lines as paragraphs; "\r\n" is the separator of the text it stands for.
  QString text = ui::ToQt(AboutText(VersionField(info, kFileVersionIndex)));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Memo->setPlainText(text);

  if (owner != nullptr) {
    placement_ = new ui::FramePlacement(*this, [this] {
      // Over an owner near a screen edge the centred window would start off the screen.
      const QRect centred = ui::CentredFrame(*parentWidget()->window(), *this);
      return ui::KeptInside(centred, ui::AvailableAreaAt(centred)).topLeft();
    });
  }
}

void Tfrm_About::showEvent(QShowEvent* event) {
  // Centred by the outer frames, each half rounded toward zero; QDialog's own centring differs.
  if (!event->spontaneous() && placement_ != nullptr) placement_->Apply();
  QDialog::showEvent(event);
}

void btn_AboutClickFor(QWidget* owner) {
  // The owner may be destroyed while the window is shown, taking the window with it.
  const QPointer<Tfrm_About> window = new Tfrm_About(owner);
  frm_About = window;
  window->exec();
  frm_About = nullptr;
  delete window;
}

}  // namespace varnok
