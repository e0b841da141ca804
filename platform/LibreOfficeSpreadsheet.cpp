#include "platform/LibreOfficeSpreadsheet.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <map>
#include <set>
#include <stdexcept>

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/ustring.hxx>

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace {

OUString ou(const QString& s) {
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

QString qs(const OUString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}

OUString fileUrl(const QString& path) {
    return ou(QUrl::fromLocalFile(QDir::cleanPath(path)).toString(QUrl::FullyEncoded));
}

css::beans::PropertyValue property(const char* name, const css::uno::Any& value) {
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Sequence<css::beans::PropertyValue> properties(const std::vector<css::beans::PropertyValue>& list) {
    return Sequence<css::beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

[[noreturn]] void officeFailed(const css::uno::Exception& e, const char* what) {
    const QString message = qs(e.Message).trimmed();
    throw std::runtime_error(
        (message.isEmpty() ? QStringLiteral("LibreOffice: %1 failed").arg(QLatin1String(what))
                           : message)
            .toStdString());
}

// Runs one office call, turning the office's exceptions into the program's.
template <class F> auto call(const char* what, F&& f) {
    try {
        return f();
    } catch (const css::uno::Exception& e) {
        officeFailed(e, what);
    }
}

Reference<css::uno::XComponentContext> localContext() {
    // The bootstrap reads its type libraries and services through the office's
    // fundamentalrc; without it the bootstrap fails.
    static const Reference<css::uno::XComponentContext> context = [] {
        if (qEnvironmentVariableIsEmpty("URE_BOOTSTRAP"))
            qputenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" OFFICE_PROGRAM_DIR "/fundamentalrc");
        try {
            return cppu::defaultBootstrap_InitialComponentContext();
        } catch (const cppu::BootstrapException& e) {
            throw std::runtime_error(qs(e.getMessage()).toStdString());
        }
    }();
    return context;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

struct LibreOfficeSpreadsheet::Uno {
    // Cell values not yet sent: each call into the office is a round trip, so
    // cells travel in blocks.
    std::map<std::pair<int, int>, css::uno::Any> pendingCells;
    std::set<int> pendingRows;

    Reference<css::uno::XComponentContext> office;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::sheet::XSpreadsheetDocument> document;
    Reference<css::sheet::XSpreadsheet> sheet;

    Reference<css::beans::XPropertySet> rowRange(int row, int first, int last) const {
        return Reference<css::beans::XPropertySet>(
            sheet->getCellRangeByPosition(first - 1, row - 1, last - 1, row - 1), UNO_QUERY_THROW);
    }
};

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet() : LibreOfficeSpreadsheet(Options{}) {}

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet(Options options)
    : options_(std::move(options)), uno_(std::make_unique<Uno>()) {
    if (options_.profileDir.isEmpty())
        options_.profileDir =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/tulmina/office-profile");
}

LibreOfficeSpreadsheet::~LibreOfficeSpreadsheet() {
    try {
        disconnect();
    } catch (...) {
    }
}

void LibreOfficeSpreadsheet::connect() {
    // An office that dies leaves the bridge writing into a closed pipe: that
    // must become an error of the call, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (uno_->desktop.is()) {
        try {
            uno_->desktop->getComponents(); // still alive: the connection is kept
            return;
        } catch (const css::uno::Exception&) {
            *uno_ = Uno{}; // the office has gone away: attach or start anew
        }
    }
    const OUString url = ou(
        QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(options_.pipeName));
    Reference<css::bridge::XUnoUrlResolver> resolver =
        call("connect", [] { return css::bridge::UnoUrlResolver::create(localContext()); });
    auto attach = [&]() -> bool {
        try {
            uno_->office.set(resolver->resolve(url), UNO_QUERY_THROW);
            return true;
        } catch (const css::connection::NoConnectException&) {
            return false;
        }
    };
    bool attached = call("connect", attach);
    if (!attached) {
        QStringList args{QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext")
                             .arg(options_.pipeName),
                         QStringLiteral("--norestore"),
                         QStringLiteral("--nologo"),
                         QStringLiteral("--nodefault"),
                         QStringLiteral("--nolockcheck"),
                         QStringLiteral("-env:UserInstallation=") +
                             QUrl::fromLocalFile(options_.profileDir).toString(QUrl::FullyEncoded)};
        if (options_.headless || !hasDisplay())
            args << QStringLiteral("--headless");
        // The office outlives the program: it must not hold the program's output.
        QProcess office;
        office.setProgram(QStringLiteral(OFFICE_PROGRAM_DIR "/soffice"));
        office.setArguments(args);
        office.setStandardInputFile(QProcess::nullDevice());
        office.setStandardOutputFile(QProcess::nullDevice());
        office.setStandardErrorFile(QProcess::nullDevice());
        if (!office.startDetached())
            throw std::runtime_error("LibreOffice could not be started");
        // A new profile takes the office a few seconds to make.
        for (int i = 0; i < 600 && !attached; ++i) {
            QThread::msleep(100);
            attached = call("connect", attach);
        }
        if (!attached)
            throw std::runtime_error("LibreOffice did not answer on its pipe");
    }
    uno_->desktop = call("connect", [&] { return css::frame::Desktop::create(uno_->office); });
}

void LibreOfficeSpreadsheet::openWorkbook(const QString& path) {
    flush();
    call("open", [&] {
        const auto args = properties({property("Hidden", css::uno::Any(true))});
        Reference<css::lang::XComponent> component = uno_->desktop->loadComponentFromURL(
            fileUrl(path), OUString::createFromAscii("_blank"), 0, args);
        uno_->document.set(component, UNO_QUERY);
        if (!uno_->document.is())
            throw std::runtime_error(
                QStringLiteral("LibreOffice could not open %1").arg(path).toStdString());
        Reference<css::container::XIndexAccess> sheets(uno_->document->getSheets(),
                                                       UNO_QUERY_THROW);
        uno_->sheet.set(sheets->getByIndex(0), UNO_QUERY_THROW);
    });
}

// An earlier report under the same name is still open in the office and holds
// its file: it is closed (it was saved when it was made) so the new one can
// take the name.
static void closeOtherDocumentsAt(const Reference<css::frame::XDesktop2>& desktop,
                                  const Reference<css::uno::XInterface>& keep,
                                  const OUString& url) {
    Reference<css::container::XEnumeration> open = desktop->getComponents()->createEnumeration();
    while (open->hasMoreElements()) {
        Reference<css::frame::XModel> model(open->nextElement(), UNO_QUERY);
        if (!model.is() || model->getURL() != url || model == keep)
            continue;
        Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
    }
}

void LibreOfficeSpreadsheet::saveWorkbookAs(const QString& path) {
    flush();
    call("save as", [&] {
        closeOtherDocumentsAt(
            uno_->desktop, Reference<css::frame::XModel>(uno_->document, UNO_QUERY), fileUrl(path));
        Reference<css::frame::XStorable> storable(uno_->document, UNO_QUERY_THROW);
        const auto args = properties(
            {property("FilterName", css::uno::Any(OUString::createFromAscii("MS Excel 97"))),
             property("Overwrite", css::uno::Any(true))});
        storable->storeAsURL(fileUrl(path), args);
    });
}

namespace {
constexpr size_t MaxPendingRows = 1000;
}

void LibreOfficeSpreadsheet::setCellText(int row, int column, const QString& text) {
    uno_->pendingCells[{row, column}] <<= ou(text); // a text stays a text: "01234" keeps its zero
    uno_->pendingRows.insert(row);
    if (uno_->pendingRows.size() > MaxPendingRows)
        flush();
}

void LibreOfficeSpreadsheet::setCellNumber(int row, int column, double value) {
    uno_->pendingCells[{row, column}] <<= value;
    uno_->pendingRows.insert(row);
    if (uno_->pendingRows.size() > MaxPendingRows)
        flush();
}

void LibreOfficeSpreadsheet::checkConnection() {
    call("cell", [&] {
        if (!uno_->document.is())
            throw std::runtime_error("No workbook is open in LibreOffice");
        Reference<css::frame::XModel>(uno_->document, UNO_QUERY_THROW)->getURL();
    });
}

// Sends the held-back cells: rows whose cells cover the same columns without a
// gap go together as one block.
void LibreOfficeSpreadsheet::flush() {
    if (uno_->pendingCells.empty())
        return;
    auto cells = std::exchange(uno_->pendingCells, {});
    uno_->pendingRows.clear();
    struct Run {
        int row, first, last;
    };
    std::vector<Run> runs;
    for (const auto& [at, value] : cells) {
        const auto [row, column] = at;
        if (!runs.empty() && runs.back().row == row && runs.back().last + 1 == column)
            runs.back().last = column;
        else
            runs.push_back({row, column, column});
    }
    call("cells", [&] {
        for (size_t i = 0; i < runs.size();) {
            size_t j = i + 1;
            while (j < runs.size() && runs[j].row == runs[j - 1].row + 1 &&
                   runs[j].first == runs[i].first && runs[j].last == runs[i].last)
                ++j;
            const int width = runs[i].last - runs[i].first + 1;
            Sequence<Sequence<css::uno::Any>> data(sal_Int32(j - i));
            for (size_t k = i; k < j; ++k) {
                Sequence<css::uno::Any> line(width);
                for (int c = 0; c < width; ++c)
                    line.getArray()[c] = cells.at({runs[k].row, runs[i].first + c});
                data.getArray()[k - i] = line;
            }
            Reference<css::sheet::XCellRangeData> range(
                uno_->sheet->getCellRangeByPosition(runs[i].first - 1, runs[i].row - 1,
                                                    runs[i].last - 1, runs[j - 1].row - 1),
                UNO_QUERY_THROW);
            range->setDataArray(data);
            i = j;
        }
    });
}

void LibreOfficeSpreadsheet::alignRight(int row, int firstColumn, int lastColumn) {
    flush();
    call("alignment", [&] {
        uno_->rowRange(row, firstColumn, lastColumn)
            ->setPropertyValue(OUString::createFromAscii("HoriJustify"),
                               css::uno::Any(css::table::CellHoriJustify_RIGHT));
    });
}

void LibreOfficeSpreadsheet::setBold(int row, int firstColumn, int lastColumn) {
    flush();
    call("bold", [&] {
        uno_->rowRange(row, firstColumn, lastColumn)
            ->setPropertyValue(OUString::createFromAscii("CharWeight"),
                               css::uno::Any(css::awt::FontWeight::BOLD));
    });
}

void LibreOfficeSpreadsheet::hideColumn(int column) {
    flush();
    call("hide column", [&] {
        Reference<css::table::XColumnRowRange> range(uno_->sheet, UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> col(range->getColumns()->getByIndex(column - 1),
                                                UNO_QUERY_THROW);
        col->setPropertyValue(OUString::createFromAscii("IsVisible"), css::uno::Any(false));
    });
}

void LibreOfficeSpreadsheet::saveWorkbook() {
    flush();
    call("save",
         [&] { Reference<css::frame::XStorable>(uno_->document, UNO_QUERY_THROW)->store(); });
}

void LibreOfficeSpreadsheet::makeVisible() {
    flush();
    call("show", [&] {
        Reference<css::frame::XModel> model(uno_->document, UNO_QUERY_THROW);
        Reference<css::awt::XWindow> window =
            model->getCurrentController()->getFrame()->getContainerWindow();
        window->setVisible(true);
        Reference<css::awt::XTopWindow> top(window, UNO_QUERY);
        if (top.is())
            top->toFront();
    });
}

void LibreOfficeSpreadsheet::disconnect() {
    // Dropping the references ends the bridge; the office keeps running with
    // its documents open.
    const auto drop = qScopeGuard([this] { *uno_ = Uno{}; });
    flush();
}

LibreOfficeSpreadsheet::SheetReport LibreOfficeSpreadsheet::readBack(const QString& path, int rows,
                                                                     int columns) {
    connect();
    return call("read back", [&] {
        const auto args = properties(
            {property("Hidden", css::uno::Any(true)), property("ReadOnly", css::uno::Any(true))});
        Reference<css::sheet::XSpreadsheetDocument> doc(
            uno_->desktop->loadComponentFromURL(fileUrl(path), OUString::createFromAscii("_blank"),
                                                0, args),
            UNO_QUERY_THROW);
        Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(0), UNO_QUERY_THROW);
        SheetReport report;
        for (int r = 0; r < rows; ++r) {
            std::vector<CellReport> line;
            for (int c = 0; c < columns; ++c) {
                Reference<css::table::XCell> cell = sheet->getCellByPosition(c, r);
                Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
                CellReport cr;
                cr.text = qs(Reference<css::text::XText>(cell, UNO_QUERY_THROW)->getString());
                cr.isNumber = cell->getType() == css::table::CellContentType_VALUE;
                cr.value = cell->getValue();
                float weight = 0;
                props->getPropertyValue(OUString::createFromAscii("CharWeight")) >>= weight;
                cr.bold = weight >= css::awt::FontWeight::BOLD;
                css::table::CellHoriJustify justify{};
                props->getPropertyValue(OUString::createFromAscii("HoriJustify")) >>= justify;
                cr.alignedRight = justify == css::table::CellHoriJustify_RIGHT;
                line.push_back(cr);
            }
            report.rows.push_back(line);
        }
        Reference<css::table::XColumnRowRange> range(sheet, UNO_QUERY_THROW);
        for (int c = 0; c < columns; ++c) {
            Reference<css::beans::XPropertySet> col(range->getColumns()->getByIndex(c),
                                                    UNO_QUERY_THROW);
            bool visible = true;
            col->getPropertyValue(OUString::createFromAscii("IsVisible")) >>= visible;
            report.columnVisible.push_back(visible);
        }
        Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
        return report;
    });
}

void LibreOfficeSpreadsheet::terminateOffice() {
    try {
        connect();
        uno_->desktop->terminate();
    } catch (...) {
    }
    *uno_ = Uno{};
}

void LibreOfficeSpreadsheet::writeBlock(int firstRow, const QList<QVariantList>& rows) {
    if (rows.isEmpty())
        return;
    call("block", [&] {
        const int columns = int(rows.first().size());
        Sequence<Sequence<css::uno::Any>> data(sal_Int32(rows.size()));
        auto* out = data.getArray();
        for (qsizetype r = 0; r < rows.size(); ++r) {
            Sequence<css::uno::Any> line(columns);
            auto* cells = line.getArray();
            for (int c = 0; c < columns; ++c) {
                const QVariant& v = rows[r][c];
                if (v.typeId() == QMetaType::Double)
                    cells[c] <<= v.toDouble();
                else
                    cells[c] <<= ou(v.toString());
            }
            out[r] = line;
        }
        Reference<css::sheet::XCellRangeData> range(
            uno_->sheet->getCellRangeByPosition(0, firstRow - 1, columns - 1,
                                                firstRow - 1 + sal_Int32(rows.size()) - 1),
            UNO_QUERY_THROW);
        range->setDataArray(data);
    });
}
