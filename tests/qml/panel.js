.pragma library
// Reaches the parts of the real main window that carry no property of their own.

// The page stack: the one child of the content area that stacks pages.
function stackView(win) {
    var children = win.contentItem.children
    for (var i = 0; i < children.length; ++i) {
        if (children[i].depth !== undefined && typeof children[i].push === "function")
            return children[i]
    }
    return null
}

// The first and permanent page.
function loginPage(win) {
    return stackView(win).get(0)
}

// The tool bar's controls, left to right.
function toolButtons(win) {
    var row = win.header.contentChildren[0]
    return { back: row.children[0], title: row.children[1],
             refresh: row.children[2], menu: row.children[3] }
}

// The window's menu: the popup that holds the menu items.
function menu(win) {
    var data = win.contentData
    for (var i = 0; i < data.length; ++i) {
        if (typeof data[i].itemAt === "function" && typeof data[i].addItem === "function")
            return data[i]
    }
    return null
}

// The texts of the menu's items, in order.
function menuTexts(win) {
    var m = menu(win)
    var texts = []
    for (var i = 0; i < m.count; ++i)
        texts.push(m.itemAt(i).text)
    return texts
}

// A new main window, destroyed after the current test function. The window starts from
// whatever the settings store holds; clear it first for a first run.
function createWindow(testCase) {
    var component = Qt.createComponent("qrc:/main.qml")
    if (component.status !== 1 /* Component.Ready */)
        testCase.fail("qrc:/main.qml does not load: " + component.errorString())
    return testCase.createTemporaryObject(component, testCase)
}

// Makes `win` the window that key presses go to, and waits until it is.
function activate(testCase, win) {
    win.requestActivate()
    testCase.tryCompare(win, "active", true)
    // The window takes the keyboard focus a moment after it becomes active.
    testCase.tryVerify(function () { return win.activeFocusItem !== null })
}

// Pushes `url` on the window's stack and waits until the push has finished.
function push(testCase, win, url, properties) {
    var stack = stackView(win)
    var page = stack.push(url, properties || {})
    testCase.tryCompare(stack, "busy", false)
    return page
}

// Waits for the stack's transitions to end.
function settle(testCase, win) {
    testCase.tryCompare(stackView(win), "busy", false)
}
