#include "ui/qt/crlf_text_edit.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace orvante::ui::qt {

namespace {

// Appends reach the widget at most this often: each insert lays out and paints the
// widget, which costs far more than an entry's own text, and a transfer logs two
// entries a block, hundreds a second. No one reads faster than this.
constexpr std::chrono::milliseconds kAppendInterval{50};
// While the line floods the log (more lines a batch than the log shows at once), nobody
// reads the lines as they pass: the log is brought up to date twice a second, so that
// laying out and painting them does not take a large share of the machine.
constexpr std::chrono::milliseconds kFloodAppendInterval{500};
constexpr qsizetype kFloodBatchLines = 25;

bool IsLineBreak(char16_t c) {
    // What QTextDocument::toPlainText turns into '\n', and the breaks themselves.
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// Every kind of line break given (CR LF, a lone CR or LF, Unicode separators) becomes
// one '\n', so each character given is one character of the document.
QString ToDocumentText(const std::string& utf8) {
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar& c : text) {
        if (IsLineBreak(c.unicode())) c = u'\n';
    }
    return text;
}

}  // namespace

std::size_t Cp936LengthOfDocumentText(QStringView text) {
    std::size_t length = 0;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (IsLineBreak(c)) {
            length += 2;
        } else if (c < 0x80 || c == QChar::Nbsp) {  // toPlainText gives a space for NBSP
            length += 1;
        } else if (!qc.isLowSurrogate()) {  // a surrogate pair is one character
            length += 2;
        }
    }
    return length;
}

CrLfTextEdit::CrLfTextEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(document(), &QTextDocument::contentsChange, this, [this] {
        if (!inserting_) lengthStale_ = true;
    });
}

std::string CrLfTextEdit::Text() {
    FlushAppends();
    QString text = toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text.toStdString();
}

void CrLfTextEdit::SetText(const std::string& utf8) {
    pending_ = ToDocumentText(utf8);
    length_ = Cp936LengthOfDocumentText(pending_);
    lengthStale_ = false;
    replacing_ = true;
    // Behind appends still waiting (the log empties itself while the line floods it),
    // the new text goes in with them: the document is rebuilt once a batch, however
    // often it was emptied in between.
    if (!flushQueued_) FlushAppends();
}

void CrLfTextEdit::Append(const std::string& utf8) {
    const QString text = ToDocumentText(utf8);
    if (!lengthStale_) length_ += Cp936LengthOfDocumentText(text);
    pending_ += text;
    if (!flushQueued_) {
        flushQueued_ = true;
        QTimer::singleShot(flooded_ ? kFloodAppendInterval : kAppendInterval, this,
                           &CrLfTextEdit::FlushAppends);
    }
}

void CrLfTextEdit::FlushAppends() {
    flushQueued_ = false;
    if (pending_.isEmpty() && !replacing_) return;
    flooded_ = pending_.count(u'\n') > kFloodBatchLines;
    inserting_ = true;
    if (replacing_) setPlainText(pending_);
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!replacing_) cursor.insertText(pending_);
    inserting_ = false;
    replacing_ = false;
    pending_.clear();
    setTextCursor(cursor);
    ensureCursorVisible();
}

std::size_t CrLfTextEdit::Cp936Length() {
    if (lengthStale_) {
        FlushAppends();
        length_ = Cp936LengthOfDocumentText(toPlainText());
        lengthStale_ = false;
    }
    return length_;
}

void CrLfTextEdit::keyPressEvent(QKeyEvent* event) {
    FlushAppends();
    QPlainTextEdit::keyPressEvent(event);
}

void CrLfTextEdit::inputMethodEvent(QInputMethodEvent* event) {
    FlushAppends();
    QPlainTextEdit::inputMethodEvent(event);
}

void CrLfTextEdit::mousePressEvent(QMouseEvent* event) {
    FlushAppends();
    QPlainTextEdit::mousePressEvent(event);
}

void CrLfTextEdit::insertFromMimeData(const QMimeData* source) {
    FlushAppends();
    QPlainTextEdit::insertFromMimeData(source);
}

void CrLfTextEdit::resizeEvent(QResizeEvent* event) {
    // Reached for the viewport's resizes, before the text is laid out for the new size.
    // Appends scroll only until the last line is whole, which can be a line short of the
    // scroll bar's end, so that is what "at the bottom" means here.
    const bool atBottom = ShowsLastLine(event->oldSize().height());
    QPlainTextEdit::resizeEvent(event);
    if (atBottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool CrLfTextEdit::ShowsLastLine(int viewportHeight) {
    // Down from the first block on screen, as painting goes, until the viewport's end.
    QTextBlock block = firstVisibleBlock();
    qreal bottom = blockBoundingGeometry(block).translated(contentOffset()).bottom();
    while (block.next().isValid() && bottom <= viewportHeight) {
        block = block.next();
        bottom += blockBoundingRect(block).height();
    }
    // The last block's rectangle ends in the document's margin, which may be out of view.
    return !block.next().isValid() && bottom - document()->documentMargin() <= viewportHeight;
}

}  // namespace orvante::ui::qt
