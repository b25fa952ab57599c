#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "store/feedstore.h"
#include "store/viewsetting.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using namespace test;

TEST(ViewSetting, OldStoresTakeTheDefaultAndTheSettingIsOneAttributeOfTheRoot) {
    QTemporaryDir dir;
    FeedStore store(dir.path());
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind) << "no store yet";
    const QByteArray old = "<root magnetic='false' refresh='60000'><feed url='http://127.0.0.1/a'/></root>";
    ASSERT_TRUE(writeFile(store.storePath(), old));
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind) << "a store without the attribute";

    ASSERT_TRUE(storeViewSetting(store, PageViewKind::Web));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Web);
    const QString saved = QString::fromUtf8(readFile(store.storePath()));
    EXPECT_TRUE(saved.contains("view=\"web\"")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("refresh=\"60000\"") && saved.contains("http://127.0.0.1/a"));
    ASSERT_TRUE(storeViewSetting(store, PageViewKind::Light));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Light);

    ASSERT_TRUE(writeFile(store.storePath(), "<root view=' WEB '/>"));
    EXPECT_EQ(readViewSetting(store), PageViewKind::Web);
    ASSERT_TRUE(writeFile(store.storePath(), "<root view='browser'/>"));
    EXPECT_EQ(readViewSetting(store), defaultPageViewKind);
    bool ok = true;
    pageViewKindFromText("browser", &ok);
    EXPECT_FALSE(ok);
}

} // namespace
} // namespace quorvel
