#include "platform/LibreOfficeSpreadsheet.h"

#include "platform/Failure.h"
#include "platform/LibreOfficeConnection.h"

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <QFileInfo>

using namespace office;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

struct LibreOfficeSpreadsheet::Uno {
    explicit Uno(const Options& options) : connection(options) {}
    Connection connection;
    Reference<css::sheet::XSpreadsheetDocument> document;
    Reference<css::sheet::XSpreadsheet> sheet;

    Reference<css::table::XCellRange> range(int firstRow, int firstColumn, int lastRow,
                                            int lastColumn) const {
        if (!sheet.is())
            throw ProgramError(QStringLiteral("В LibreOffice не открыта книга отчёта"));
        return sheet->getCellRangeByPosition(firstColumn - 1, firstRow - 1, lastColumn - 1,
                                             lastRow - 1);
    }
    Reference<css::beans::XPropertySet> rowRange(int row, int first, int last) const {
        return Reference<css::beans::XPropertySet>(range(row, first, row, last), UNO_QUERY_THROW);
    }
};

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet() : LibreOfficeSpreadsheet(Options{}) {}

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet(const Options& options)
    : uno_(std::make_unique<Uno>(options)) {}

LibreOfficeSpreadsheet::~LibreOfficeSpreadsheet() {
    disconnect();
}

void LibreOfficeSpreadsheet::connect() {
    uno_->connection.connect();
}

namespace {

// An earlier report under the same name may still be open in the office and
// hold its file. It is closed so the new report can take the name, but only
// when it holds nothing the user changed since it was saved.
void closeEarlierDocumentAt(const Reference<css::frame::XDesktop2>& desktop, const QString& path) {
    const rtl::OUString url = fileUrl(path);
    Reference<css::container::XEnumeration> open = desktop->getComponents()->createEnumeration();
    while (open->hasMoreElements()) {
        Reference<css::frame::XModel> model(open->nextElement(), UNO_QUERY);
        if (!model.is() || model->getURL() != url)
            continue;
        Reference<css::util::XModifiable> modifiable(model, UNO_QUERY);
        if (modifiable.is() && modifiable->isModified())
            throw OfficeError(
                QStringLiteral("Книга %1 открыта в LibreOffice и изменена после сохранения. "
                               "Сохраните или закройте её и сформируйте отчёт снова")
                    .arg(QFileInfo(path).fileName()));
        Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
    }
}

} // namespace

void LibreOfficeSpreadsheet::openWorkbook(const QString& path) {
    openWorkbook(path, path);
}

// A document loaded as salvaged from another file takes that file as its
// place: the office shows its name and saves there, and reads nothing of it.
void LibreOfficeSpreadsheet::openWorkbook(const QString& templatePath, const QString& placeAt) {
    uno_->connection.call("открытие книги", [&] {
        uno_->document.clear();
        uno_->sheet.clear();
        const Reference<css::frame::XDesktop2> desktop = uno_->connection.desktop();
        closeEarlierDocumentAt(desktop, placeAt);
        const css::uno::Any hidden(true);
        const auto load = placeAt == templatePath
                              ? properties({{"Hidden", hidden}})
                              : properties({{"Hidden", hidden},
                                            {"SalvagedFile", css::uno::Any(fileUrl(placeAt))}});
        Reference<css::lang::XComponent> component = desktop->loadComponentFromURL(
            fileUrl(templatePath), rtl::OUString::createFromAscii("_blank"), 0, load);
        uno_->document.set(component, UNO_QUERY);
        if (!uno_->document.is())
            throw OfficeError(QStringLiteral("LibreOffice не открыл книгу %1").arg(templatePath));
        Reference<css::container::XIndexAccess> sheets(uno_->document->getSheets(),
                                                       UNO_QUERY_THROW);
        uno_->sheet.set(sheets->getByIndex(0), UNO_QUERY_THROW);
    });
}

void LibreOfficeSpreadsheet::writeRows(int firstRow, int firstColumn,
                                       const std::vector<Row>& rows) {
    if (rows.empty())
        return;
    size_t width = 0;
    for (const Row& r : rows)
        width = std::max(width, r.size());
    Sequence<Sequence<css::uno::Any>> data(sal_Int32(rows.size()));
    auto* out = data.getArray();
    for (const Row& r : rows) {
        Sequence<css::uno::Any> line{sal_Int32(width)};
        auto* cells = line.getArray();
        for (size_t c = 0; c < r.size(); ++c) {
            if (const auto* text = std::get_if<QString>(&r[c]))
                cells[c] <<= ou(*text);
            else
                cells[c] <<= std::get<double>(r[c]);
        }
        for (size_t c = r.size(); c < width; ++c)
            cells[c] <<= rtl::OUString();
        *out++ = line;
    }
    uno_->connection.call("запись ячеек", [&] {
        Reference<css::sheet::XCellRangeData> range(uno_->range(firstRow, firstColumn,
                                                                firstRow + int(rows.size()) - 1,
                                                                firstColumn + int(width) - 1),
                                                    UNO_QUERY_THROW);
        range->setDataArray(data);
    });
}

void LibreOfficeSpreadsheet::alignRight(int row, int firstColumn, int lastColumn) {
    uno_->connection.call("выравнивание", [&] {
        uno_->rowRange(row, firstColumn, lastColumn)
            ->setPropertyValue(rtl::OUString::createFromAscii("HoriJustify"),
                               css::uno::Any(css::table::CellHoriJustify_RIGHT));
    });
}

void LibreOfficeSpreadsheet::setBold(int row, int firstColumn, int lastColumn) {
    uno_->connection.call("полужирный шрифт", [&] {
        uno_->rowRange(row, firstColumn, lastColumn)
            ->setPropertyValue(rtl::OUString::createFromAscii("CharWeight"),
                               css::uno::Any(css::awt::FontWeight::BOLD));
    });
}

void LibreOfficeSpreadsheet::hideColumn(int column) {
    uno_->connection.call("скрытие столбца", [&] {
        Reference<css::table::XColumnRowRange> range(uno_->range(1, column, 1, column),
                                                     UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> col(range->getColumns()->getByIndex(0),
                                                UNO_QUERY_THROW);
        col->setPropertyValue(rtl::OUString::createFromAscii("IsVisible"), css::uno::Any(false));
    });
}

void LibreOfficeSpreadsheet::saveWorkbookAside(const QString& path) {
    uno_->connection.call("сохранение книги", [&] {
        Reference<css::frame::XStorable>(uno_->document, UNO_QUERY_THROW)
            ->storeToURL(fileUrl(path),
                         properties({{"FilterName",
                                      css::uno::Any(rtl::OUString::createFromAscii("MS Excel 97"))},
                                     {"Overwrite", css::uno::Any(true)}}));
    });
}

void LibreOfficeSpreadsheet::markSaved() {
    uno_->connection.call("сохранение книги", [&] {
        Reference<css::util::XModifiable>(uno_->document, UNO_QUERY_THROW)->setModified(false);
    });
}

void LibreOfficeSpreadsheet::makeVisible() {
    uno_->connection.call("показ книги", [&] {
        Reference<css::frame::XModel> model(uno_->document, UNO_QUERY_THROW);
        Reference<css::awt::XWindow> window =
            model->getCurrentController()->getFrame()->getContainerWindow();
        window->setVisible(true);
        Reference<css::awt::XTopWindow> top(window, UNO_QUERY);
        if (top.is())
            top->toFront();
    });
}

void LibreOfficeSpreadsheet::closeWorkbook() {
    uno_->connection.call("закрытие книги", [&] {
        Reference<css::util::XCloseable> closeable(uno_->document, UNO_QUERY);
        uno_->sheet.clear();
        uno_->document.clear();
        if (closeable.is())
            closeable->close(true);
    });
}

void LibreOfficeSpreadsheet::disconnect() {
    // Dropping the references ends the bridge; the office keeps running with
    // its documents open.
    uno_->sheet.clear();
    uno_->document.clear();
    uno_->connection.disconnect();
}
