#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

class SqlConnection;
class RowCursor;
struct DriverStatement;

// A named query object: its text is a list of lines numbered from 0, its
// parameters are the :name markers of that text, and its cursor runs forward
// only (going back to the first row runs the statement again).
class SqlQuery {
public:
    SqlQuery(SqlConnection& connection, QString name, QStringList lines = {});
    ~SqlQuery();

    const QString& name() const { return name_; }

    // Text. Every change closes the query and derives the parameters again.
    const QStringList& lines() const { return lines_; }
    QString text() const; // each line followed by CR LF
    void clear();
    void addLine(const QString& line);
    void replaceLine(int n, const QString& line);

    // Parameters.
    QStringList parameterNames() const;
    void setParamText(const QString& name, const QString& value);
    void setParam(const QString& name, const QVariant& value);
    QVariant paramValue(const QString& name) const;

    // Cursor.
    void open(); // runs the current text; does nothing when already open
    // Runs the current text as a statement the connection keeps prepared.
    void openWhole();
    // The same in two halves: the statement goes to the server, which works on
    // it while the program does something else; openSent() then opens the
    // query on its result.
    void sendWhole();
    void openSent();
    void close();
    bool isOpen() const { return live() != nullptr; }
    bool eof() const;
    void next();
    void first(); // runs the statement again unless it stands on its first row
    int rowIndex() const { return rowIndex_; }

    // Column reads by name, matched without regard to letter case.
    QVariant value(const QString& column) const;   // null without a current row
    QString asString(const QString& column) const; // "" for null
    double asFloat(const QString& column) const;   // 0 for null

    void execSQL(); // runs the text as a prepared statement that returns no rows

    // Time spent waiting on the server for this query, for benchmarks.
    std::chrono::nanoseconds serverTime() const { return serverTime_; }

private:
    void textChanged();
    QList<QVariant> markerValues(const DriverStatement& statement) const;
    int columnIndex(const QString& column) const;
    RowCursor* live() const;
    template <class MakeCursor> void openWith(MakeCursor&& make);

    SqlConnection& connection_;
    QString name_;
    QStringList lines_;
    std::vector<std::pair<QString, QVariant>> params_;
    QHash<QString, size_t> paramIndex_; // case-folded name -> index in params_
    std::unique_ptr<RowCursor> cursor_; // set while the query is open
    int generation_ = 0;                // of the connection when it was opened
    int rowIndex_ = 0;
    std::chrono::nanoseconds serverTime_{0};
};
