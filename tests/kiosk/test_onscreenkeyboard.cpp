#include "kioskfixture.h"
#include "onscreenkeyboard.h"

#include <QQuickItem>

namespace {

// A form whose fields report every value to the server; the page is taller than the window and
// the fields lie at the bottom of the first screenful, where the keyboard comes.
const char *const FormPage = R"html(<!DOCTYPE html><html><body style="margin:0;height:3000px">
<input id="name" oninput="fetch('/typed/' + this.value)">
<input id="secret" type="password" oninput="fetch('/secret/' + this.value)">
<script>for (const f of document.querySelectorAll('input'))
  f.style.cssText = 'position:absolute;top:' + (innerHeight - 30) + 'px;left:' + (f.id == 'name' ? 0 : 300) + 'px';
</script></body></html>)html";

class OnScreenKeyboardTest : public KioskFixture
{
protected:
    void SetUp() override { server.serve("/start.html", FormPage, 200, "text/html"); }

    std::unique_ptr<frmTesmora> startWith(const std::string &extraData)
    {
        writeSettings(settingsFor(server.baseUrl(), extraData));
        auto w = makeWindow();
        w->start();
        EXPECT_TRUE(requested(server, "/start.html"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return evaluate(*w, "!!document.getElementById('secret')").toBool(); }));
        return w;
    }
    // The strip below the browser, as drawn now.
    static QImage lowerPart(frmTesmora &w) { return w.grab(QRect(0, w.height() - 10, w.width(), 10)).toImage(); }
    static void focusField(frmTesmora &w, const char *id)
    {
        browserView(w)->setFocus();
        evaluate(w, QStringLiteral("document.getElementById('%1').focus()").arg(QLatin1String(id)));
    }
    // Clicks the keyboard's key for a letter.
    static void type(OnScreenKeyboard *keyboard, const QString &letters)
    {
        const auto items = keyboard->rootObject()->findChildren<QQuickItem *>();
        for (const QChar letter : letters) {
            const auto key = std::ranges::find_if(items, [&](QQuickItem *item) {
                return item->property("key").isValid() && item->property("text").toString() == letter;
            });
            ASSERT_NE(key, items.end()) << letter.toLatin1();
            const QPointF centre = (*key)->mapToScene({(*key)->width() / 2, (*key)->height() / 2});
            QTest::mouseClick(keyboard, Qt::LeftButton, {}, centre.toPoint());
        }
    }

    TestHttpServer server;
};

TEST_F(OnScreenKeyboardTest, AFocusedFieldBringsTheKeyboardIntoTheWindowAndItsKeysTypeIntoThePage)
{
    auto w = startWith("on_screen_keyboard=1\r\nkeyboard_layout=it_IT\r\n");
    auto *keyboard = control<OnScreenKeyboard>(*w, "kbdOnScreen");
    const QRect laidOut = browserView(*w)->geometry();
    const QImage before = lowerPart(*w);
    focusField(*w, "name");
    ASSERT_TRUE(QTest::qWaitFor([&] { return keyboard->isVisible(); }, 10000));
    EXPECT_EQ(keyboard->geometry().bottom(), w->height() - 1);
    EXPECT_LE(browserView(*w)->geometry().bottom(), keyboard->geometry().top());
    EXPECT_NE(lowerPart(*w), before);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return evaluate(*w, "document.getElementById('name').getBoundingClientRect().bottom <= innerHeight").toBool();
    })) << "the page makes room for the field";

    type(keyboard, QStringLiteral("ciao"));
    EXPECT_TRUE(requested(server, "/typed/ciao"));
    focusField(*w, "secret");
    type(keyboard, QStringLiteral("pw"));
    EXPECT_TRUE(requested(server, "/secret/pw")) << "password fields take the keys too";
    EXPECT_EQ(kioskLog(), "") << "nothing typed is written";

    evaluate(*w, "document.activeElement.blur()");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keyboard->isVisible(); }, 10000));
    EXPECT_EQ(browserView(*w)->geometry(), laidOut);
}

TEST_F(OnScreenKeyboardTest, WithoutTheSettingAFocusedFieldLeavesTheWindowAsItWas)
{
    auto w = startWith("");
    const QImage before = lowerPart(*w);
    focusField(*w, "name");
    EXPECT_TRUE(evaluate(*w, "document.activeElement.id === 'name'").toBool());
    EXPECT_EQ(lowerPart(*w), before);
    EXPECT_EQ(w->findChild<OnScreenKeyboard *>(), nullptr);
}

} // namespace
