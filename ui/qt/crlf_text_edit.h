// A multi-line edit as the window logic sees it: lines end in CR LF and lengths count
// code-page-936 bytes, while the widget itself keeps Qt's own line breaks.
#pragma once

#include <QPlainTextEdit>
#include <cstddef>
#include <string>

namespace orvante::ui::qt {

// Length in code-page-936 bytes of text as a QTextDocument holds it: every line or
// paragraph break counts as CR LF (two), ASCII one, any other character two.
std::size_t Cp936LengthOfDocumentText(QStringView text);

class CrLfTextEdit final : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CrLfTextEdit(QWidget* parent = nullptr);

    // UTF-8 with CR LF line ends.
    std::string Text();
    void SetText(const std::string& utf8);
    // Adds at the end without an undo record; the caret goes after it, scrolled into
    // view. The cost follows the appended text, not the text already there: appends
    // collect and reach the widget together, once per pass of the event loop (the log is
    // written a byte at a time, and each insert into the widget lays out its line anew).
    void Append(const std::string& utf8);
    // Code-page-936 length of Text(); kept up to date on appends, recounted once after
    // the operator's own edits.
    std::size_t Cp936Length();

    // Puts collected appends into the widget now.
    void FlushAppends();

protected:
    // The operator's edits go where they see them: after whatever was appended.
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    // A log that showed its last line still does when it changes size (the window was
    // resized): by itself it would keep its first visible line instead.
    void resizeEvent(QResizeEvent* event) override;

private:
    // Whether the last line is whole in a viewport this high, as laid out now.
    bool ShowsLastLine(int viewportHeight);

    QString pending_;  // appended, not yet in the document
    bool replacing_ = false;  // pending_ replaces the document's text
    bool flushQueued_ = false;
    bool flooded_ = false;  // the last batch was a flood: the next one waits longer
    std::size_t length_ = 0;  // of document and pending_ together, unless stale
    bool lengthStale_ = false;
    bool inserting_ = false;  // our own insert: its length is already counted
};

}  // namespace orvante::ui::qt
