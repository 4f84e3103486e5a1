#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "about/frm_about.h"
#include "ui/fonts.h"

namespace varnok {

class FrmAboutTest : public QObject {
  Q_OBJECT

 private:
  static QStringList ExpectedLines(const QString& version) {
    return {QStringLiteral("Varnok file version: ") + version,
            QStringLiteral("Written by the Varnok developers"),
            QString(),
            QStringLiteral("For comments, bug reports and source code write to"),
            QStringLiteral("varnok@example.org"),
            QStringLiteral("Also have a look at https://www.example.org/varnok")};
  }

  // Runs btn_AboutClickFor and calls inspect on the shown window from inside its modal loop, then closes it.
  static void ClickAbout(QWidget* owner, const std::function<void(Tfrm_About*)>& inspect) {
    QPointer<Tfrm_About> shown;
    QTimer::singleShot(0, [&] {
      shown = frm_About;
      QVERIFY(frm_About != nullptr);
      inspect(frm_About);
      frm_About->close();
    });
    btn_AboutClickFor(owner);
    QVERIFY(frm_About == nullptr);
    QVERIFY(shown.isNull());
  }

 private slots:
  void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen")); }

  void textSeparatesSixLinesByCrLf() {
    QCOMPARE(AboutText("1.0.1.18"),
             std::string("Varnok file version: 1.0.1.18\r\nWritten by the Varnok developers\r\n\r\n"
                         "For comments, bug reports and source code write to\r\nvarnok@example.org\r\n"
                         "Also have a look at https://www.example.org/varnok"));
  }

  void memoShowsTheFileVersion_data() {
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("version");
    QTest::newRow("own version resource") << QString() << QStringLiteral("1.0.1.18");
    QTest::newRow("executable without one") << QStringLiteral(VARNOK_FIXTURE_PLAIN) << QString();
  }

  void memoShowsTheFileVersion() {
    QFETCH(QString, executable);
    QFETCH(QString, version);
    QWidget owner;
    owner.setWindowTitle(QStringLiteral("Varnok"));
    Tfrm_About about(&owner, executable.isEmpty() ? std::string("/proc/self/exe") : executable.toStdString());
    QCOMPARE(about.Memo->toPlainText().split(QLatin1Char('\n')), ExpectedLines(version));
  }

  void windowHasTheDesignedFrameAndLayout() {
    QWidget owner;
    owner.setWindowTitle(QStringLiteral("Varnok"));
    Tfrm_About about(&owner);
    QCOMPARE(about.windowTitle(), QStringLiteral("About Varnok"));
    QCOMPARE(about.size(), QSize(375, 96));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    const Qt::WindowFlags flags = about.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(about.font(), ui::DesignFont());

    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QPlainTextEdit* memo = about.Memo;
    QCOMPARE(memo->geometry(), about.rect());
    QCOMPARE(memo->font(), ui::DesignFont());
    QVERIFY(memo->isReadOnly());
    QVERIFY(memo->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    QCOMPARE(memo->focusPolicy(), Qt::StrongFocus);
    QCOMPARE(memo->frameShape(), QFrame::WinPanel);
    QCOMPARE(memo->frameShadow(), QFrame::Sunken);
    QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    const QColor button_face = QApplication::palette().color(QPalette::Button);
    QCOMPARE(about.palette().color(QPalette::Window), button_face);
    QCOMPARE(memo->palette().color(QPalette::Base), button_face);
    QCOMPARE(memo->palette().color(QPalette::Text), QApplication::palette().color(QPalette::WindowText));
  }

  // Every line is centred on one line of its own, and all six fit into the memo.
  void linesAreCentredAndFit() {
    QWidget owner;
    Tfrm_About about(&owner);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTextDocument* document = about.Memo->document();
    QCOMPARE(document->blockCount(), 6);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
      QTextLayout* layout = block.layout();
      QCOMPARE(layout->lineCount(), 1);
      const QTextLine line = layout->lineAt(0);
      if (!block.text().isEmpty()) {
        const QRectF text = line.naturalTextRect().translated(-line.x(), 0);
        const qreal right = line.width() - text.right();
        QVERIFY2(text.left() > 0 && qAbs(text.left() - right) <= 1, qPrintable(block.text()));
      }
    }
    const int bottom = about.Memo->cursorRect(QTextCursor(document->lastBlock())).bottom();
    QVERIFY2(bottom < about.Memo->viewport()->height(), qPrintable(QString::number(bottom)));
  }

  // The outer frame is centred over the owner's, each half rounded toward zero, and kept on the screen; Escape
  // closes the window.
  void clicksShowModalWindowsCentredOverTheOwner() {
    QWidget owner;
    owner.setWindowTitle(QStringLiteral("Varnok"));
    owner.setGeometry(200, 100, 270, 419);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    const QRect frame = owner.frameGeometry();

    QPoint first;
    QSize about_frame;
    ClickAbout(&owner, [&](Tfrm_About* about) {
      QVERIFY(about->isVisible());
      QCOMPARE(about->windowModality(), Qt::ApplicationModal);
      QCOMPARE(about->parentWidget(), &owner);
      first = about->frameGeometry().topLeft();
      about_frame = about->frameGeometry().size();
      QTest::keyClick(about, Qt::Key_Escape);
      QVERIFY(!about->isVisible());
    });
    // Both frames grow by the same margins, so the width difference stays odd and its half is rounded.
    QCOMPARE(about_frame.width() - frame.width(), 105);
    QCOMPARE(first, QPoint(frame.x() - 52, frame.y() + (frame.height() - about_frame.height()) / 2));

    owner.move(120, 10);
    QPoint second;
    ClickAbout(&owner, [&](Tfrm_About* about) { second = about->frameGeometry().topLeft(); });
    QCOMPARE(second, first + owner.frameGeometry().topLeft() - frame.topLeft());

    const QRect screen = owner.screen()->availableGeometry();
    owner.move(screen.left() - 250, screen.top() + 10);
    QPoint kept;
    ClickAbout(&owner, [&](Tfrm_About* about) { kept = about->frameGeometry().topLeft(); });
    QCOMPARE(kept.x(), screen.left());
  }
};

}  // namespace varnok

QTEST_MAIN(varnok::FrmAboutTest)
#include "frm_about_test.moc"
