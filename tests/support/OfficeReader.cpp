#include "tests/support/OfficeReader.h"

#include "platform/LibreOfficeConnection.h"

#include <QCoreApplication>
#include <QProcess>

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

using namespace office;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

struct OfficeReader::Uno {
    explicit Uno(const Options& options) : connection(options) {}
    Connection connection;

    Reference<css::frame::XModel> openModel(const QString& path) {
        connection.connect();
        const rtl::OUString url = fileUrl(path);
        Reference<css::container::XEnumeration> open =
            connection.desktop()->getComponents()->createEnumeration();
        while (open->hasMoreElements()) {
            Reference<css::frame::XModel> model(open->nextElement(), UNO_QUERY);
            if (model.is() && model->getURL() == url)
                return model;
        }
        return {};
    }
};

namespace {

Reference<css::sheet::XSpreadsheet> firstSheet(const Reference<css::uno::XInterface>& document) {
    Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
}

OfficeReader::Sheet read(const Reference<css::sheet::XSpreadsheet>& sheet, int rows, int columns) {
    OfficeReader::Sheet report;
    for (int r = 0; r < rows; ++r) {
        std::vector<OfficeReader::Cell> line;
        for (int c = 0; c < columns; ++c) {
            Reference<css::table::XCell> cell = sheet->getCellByPosition(c, r);
            Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
            OfficeReader::Cell cr;
            cr.text = qs(Reference<css::text::XText>(cell, UNO_QUERY_THROW)->getString());
            cr.isNumber = cell->getType() == css::table::CellContentType_VALUE;
            cr.value = cell->getValue();
            float weight = 0;
            props->getPropertyValue(rtl::OUString::createFromAscii("CharWeight")) >>= weight;
            cr.bold = weight >= css::awt::FontWeight::BOLD;
            css::table::CellHoriJustify justify{};
            props->getPropertyValue(rtl::OUString::createFromAscii("HoriJustify")) >>= justify;
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
        col->getPropertyValue(rtl::OUString::createFromAscii("IsVisible")) >>= visible;
        report.columnVisible.push_back(visible);
    }
    return report;
}

} // namespace

OfficeReader::OfficeReader(const Options& options) : uno_(std::make_unique<Uno>(options)) {}

OfficeReader::~OfficeReader() = default;

OfficeReader::Sheet OfficeReader::readFile(const QString& path, int rows, int columns) {
    uno_->connection.connect();
    return call("read back", [&] {
        Reference<css::lang::XComponent> doc = uno_->connection.desktop()->loadComponentFromURL(
            fileUrl(path), rtl::OUString::createFromAscii("_blank"), 0,
            properties({{"Hidden", css::uno::Any(true)}, {"ReadOnly", css::uno::Any(true)}}));
        const Sheet sheet = read(firstSheet(doc), rows, columns);
        Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
        return sheet;
    });
}

OfficeReader::Sheet OfficeReader::readOpenDocument(const QString& path, int rows, int columns) {
    return call("read open document", [&] {
        Reference<css::frame::XModel> model = uno_->openModel(path);
        if (!model.is())
            throw std::runtime_error("no open document " + path.toStdString());
        return read(firstSheet(model), rows, columns);
    });
}

bool OfficeReader::isOpen(const QString& path) {
    return call("find", [&] { return uno_->openModel(path).is(); });
}

int OfficeReader::openDocuments() {
    uno_->connection.connect();
    return call("count", [&] {
        int n = 0;
        Reference<css::container::XEnumeration> open =
            uno_->connection.desktop()->getComponents()->createEnumeration();
        for (; open->hasMoreElements(); open->nextElement())
            ++n;
        return n;
    });
}

void OfficeReader::editOpenDocument(const QString& path, int row, int column, const QString& text) {
    call("edit", [&] {
        Reference<css::table::XCell> cell =
            firstSheet(uno_->openModel(path))->getCellByPosition(column - 1, row - 1);
        Reference<css::text::XText>(cell, UNO_QUERY_THROW)->setString(ou(text));
    });
}

bool OfficeReader::isModified(const QString& path) {
    return call("modified", [&] {
        Reference<css::util::XModifiable> m(uno_->openModel(path), UNO_QUERY);
        return m.is() && m->isModified();
    });
}

void OfficeReader::closeOpenDocument(const QString& path) {
    call("close", [&] {
        Reference<css::util::XCloseable> c(uno_->openModel(path), UNO_QUERY);
        if (c.is())
            c->close(true);
    });
}

void OfficeReader::terminate() {
    try {
        uno_->connection.connect();
        uno_->connection.desktop()->terminate();
    } catch (...) {
    }
    uno_->connection.disconnect();
}

office::Options privateOffice(const QString& name, const QString& profileDir) {
    office::Options o;
    o.pipeName = QStringLiteral("tulmina_%1_%2").arg(name).arg(QCoreApplication::applicationPid());
    o.profileDir = profileDir;
    o.headless = true;
    return o;
}

void killOffice(const office::Options& options) {
    QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-9"), QStringLiteral("-f"),
                                                QStringLiteral("pipe,name=") + options.pipeName});
}

QStringList userIdColumn(const OfficeReader::Sheet& sheet) {
    QStringList ids;
    for (size_t r = 1; r < sheet.rows.size() && !sheet.rows[r][0].text.isEmpty(); ++r)
        ids << sheet.rows[r][0].text;
    return ids;
}
