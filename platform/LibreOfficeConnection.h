#pragma once
// The connection to a LibreOffice process over UNO, and the small conversions
// every office call needs. Only the office backend and the tests that read its
// documents back include this header: it brings in the UNO headers.
#include "platform/OfficeOptions.h"
#include "platform/WorkAside.h"

#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <stdexcept>
#include <vector>

namespace office {

namespace css = com::sun::star;
using css::uno::Reference;

// Attaches to an office listening on the pipe, or starts one (headless when
// there is no display) and waits for it a bounded time, the window still painted.
class Connection {
public:
    explicit Connection(Options options);

    void connect();             // a live connection is kept, a dead one replaced
    void disconnect() noexcept; // the office keeps running
    const Reference<css::frame::XDesktop2>& desktop() const { return desktop_; }

    // One office call, as call() below runs it; a user who stops waiting
    // for it gives the office up: it is ended, the next connect starts anew.
    template <class F> auto call(const char* what, F&& f);

private:
    bool attach();
    void startOffice();
    void endOffice() noexcept;

    Options options_;
    Reference<css::uno::XComponentContext> office_;
    Reference<css::frame::XDesktop2> desktop_;
};

rtl::OUString ou(const QString& s);
QString qs(const rtl::OUString& s);
rtl::OUString fileUrl(const QString& path);
css::uno::Sequence<css::beans::PropertyValue>
properties(std::initializer_list<std::pair<const char*, css::uno::Any>> list);

[[noreturn]] void failed(const css::uno::Exception& e, const char* what);

// Runs one office call, turning the office's exceptions into the program's.
// The call goes to the thread office calls share, and the window's thread
// waits in its event loop meanwhile: an office at work, or one that hangs,
// never stops the window painting.
template <class F> auto call(const char* what, F&& f, const GiveUp& giveUp = {}) {
    return aside(
        [&] {
            try {
                return f();
            } catch (const css::uno::Exception& e) {
                failed(e, what);
            }
        },
        giveUp);
}

template <class F> auto Connection::call(const char* what, F&& f) {
    return office::call(what, std::forward<F>(f),
                        GiveUp{options_.answerLimitMs, [this] { endOffice(); }});
}

} // namespace office
