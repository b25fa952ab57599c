#include "reader/lightview.h"
#include "reader/pageview.h"

#ifdef QUORVEL_WITH_WEBENGINE
#include "reader/webview.h"
#endif

namespace quorvel {

PageView* createPageView(PageViewKind kind, const PageViewContext& context, QWidget* parent) {
#ifdef QUORVEL_WITH_WEBENGINE
    if (kind == PageViewKind::Web)
        return new WebView(context, parent);
#else
    Q_UNUSED(kind);
#endif
    return new LightView(context, parent);
}

} // namespace quorvel
