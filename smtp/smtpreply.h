#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One reply of an SMTP server, built line by line as the lines arrive.
//
// RFC 5321 gives the first digit the meaning every caller needs: 2 and 3
// go on, 4 is "not now" (the same mail may be accepted later), 5 is "never".
// That one mapping lives here, and nowhere else.
class SmtpReply
{
public:
    enum Class { Incomplete, Positive, Intermediate, Temporary, Permanent, Malformed };

    // Adds one line as read from the socket (line end included or not).
    // Returns true when the line completes the reply ("250 text" or a
    // bare "250"); "250-text" announces more lines.
    bool addLine(const QByteArray &line);
    void clear();

    // The code of the last line read; 0 when its first three characters
    // are no number.
    int code() const { return m_code; }
    bool isComplete() const { return m_complete; }
    // The text of every line, without code, separator and line end.
    const QStringList &lines() const { return m_lines; }
    // The last line as read, line end included.
    const QString &lastLine() const { return m_lastLine; }
    bool isEmpty() const { return m_lines.isEmpty(); }

    Class replyClass() const { return classOf(m_code, m_complete); }
    static Class classOf(int code, bool complete = true);
    bool isTemporary() const { return m_code >= 400 && m_code <= 499; }
    bool isPermanent() const { return m_code >= 500 && m_code <= 599; }

    // The reply as one line for a log or a history entry: the code and the
    // text of all lines, control characters shown as '?', cut to maxLength.
    QString summary(int maxLength = 300) const;

private:
    int m_code = 0;
    bool m_complete = false;
    QStringList m_lines;
    QString m_lastLine;
    QString m_codeText;
};
