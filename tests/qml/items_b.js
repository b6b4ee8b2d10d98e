.pragma library
// Finds the parts of the list and detail pages that carry no alias: delegates' insides, the
// detail page's menu and dialogs. Searches are breadth first and bounded by the tree.

// The first visual descendant of `root` (root included) for which `accept` is true, or null.
function findItem(root, accept) {
    var queue = [root]
    while (queue.length > 0) {
        var item = queue.shift()
        if (accept(item))
            return item
        var children = item.children
        for (var i = 0; children && i < children.length; ++i)
            queue.push(children[i])
    }
    return null
}

// Every visual descendant of `root` for which `accept` is true, in breadth-first order.
function findItems(root, accept) {
    var found = []
    findItem(root, function (item) {
        if (accept(item))
            found.push(item)
        return false
    })
    return found
}

// The label (or text) inside `root` that reads exactly `text`.
function itemWithText(root, text) {
    return findItem(root, function (item) { return item.text === text })
}

// The list row's badge: the circle drawn with the corner radius of 90.
function badge(row) {
    return findItem(row, function (item) { return item.radius === 90 })
}

// The badge's number as shown.
function badgeText(row) {
    var circle = badge(row)
    return circle === null ? null : circle.children[0].text
}

// The badge numbers of the first `count` rows of a list view, as shown.
function badgeTexts(listView, count) {
    var texts = []
    for (var i = 0; i < count; ++i) {
        var row = listView.itemAtIndex(i)
        texts.push(row === null ? null : badgeText(row))
    }
    return texts
}

// Non-visual members of a page (its menu and dialogs live in its data list).
function pageObject(page, accept) {
    var data = page.data
    for (var i = 0; i < data.length; ++i) {
        if (accept(data[i]))
            return data[i]
    }
    return null
}

// The detail page's assignment menu.
function assignMenu(page) {
    return pageObject(page, function (o) {
        return typeof o.itemAt === "function" && typeof o.addItem === "function"
    })
}

// The message dialogs of a page, in declaration order.
function dialogs(page) {
    var found = []
    var data = page.data
    for (var i = 0; i < data.length; ++i) {
        if (data[i].standardButtons !== undefined && typeof data[i].click === "function")
            found.push(data[i])
    }
    return found
}

// The one dialog of the page that is open, or null.
function openDialog(page) {
    var all = dialogs(page)
    for (var i = 0; i < all.length; ++i) {
        if (all[i].visible)
            return all[i]
    }
    return null
}

// The calendar cell of `day` in the month on view (a cell whose text is shown).
function dayCell(monthGrid, day) {
    return findItem(monthGrid.contentItem, function (item) {
        return item.radius === 90 && item.onView === true && item.day.getDate() === day
    })
}

// A cell of a neighbouring month (its number is hidden).
function neighbourCell(monthGrid) {
    return findItem(monthGrid.contentItem, function (item) {
        return item.radius === 90 && item.onView === false
    })
}

function sameColor(a, b) {
    return Math.abs(a.r - b.r) < 0.002 && Math.abs(a.g - b.g) < 0.002
            && Math.abs(a.b - b.b) < 0.002 && Math.abs(a.a - b.a) < 0.002
}
