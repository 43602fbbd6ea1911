"""A Qt 6 text edit for the KDE tests, the counterpart of gtk_window.py: the same lines printed,
arguments and input."""
import json
import sys

from PyQt6.QtCore import QByteArray, QEvent, QMimeData, QObject, QSocketNotifier, Qt
from PyQt6.QtGui import QKeySequence
from PyQt6.QtWidgets import QApplication, QTextEdit


def say(*words):
    print(*words, flush=True)


class Watch(QObject):
    def eventFilter(self, _watched, event):
        kind = event.type()
        if kind == QEvent.Type.KeyPress:
            mods = event.modifiers()
            name = QKeySequence(event.key()).toString().lower() or f"0x{event.key():x}"
            say("key", name, int(bool(mods & Qt.KeyboardModifier.ControlModifier)),
                int(bool(mods & Qt.KeyboardModifier.ShiftModifier)))
        elif kind == QEvent.Type.FocusIn:
            say("focus in")
        elif kind == QEvent.Type.FocusOut:
            say("focus out")
        return False  # the edit still gets it


# The user's content: text, markup and application data that is not text.
USERS_CONTENT = {
    "text/plain;charset=utf-8": "the user's own ✓".encode(),
    "text/html": b"<b>the user's own</b>",
    "application/x-deskagent-test": b"\x00\x01\xfe\xff",
}


def command():
    line = sys.stdin.readline()
    if line.strip() == "copy":
        content = QMimeData()
        for kind, data in USERS_CONTENT.items():
            content.setData(kind, QByteArray(data))
        QApplication.clipboard().setMimeData(content)
        say("copied")


app = QApplication([sys.argv[0]])
commands = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Type.Read)
commands.activated.connect(command)
app.setDesktopFileName(sys.argv[2])
edit = QTextEdit()
edit.setAcceptRichText(False)
edit.setPlainText(sys.argv[1])
edit.selectAll()
watch = Watch()
edit.installEventFilter(watch)
edit.textChanged.connect(lambda: say("text:", json.dumps(edit.toPlainText(), ensure_ascii=False)))
edit.setWindowTitle("deskagent test window")
edit.show()
edit.activateWindow()
say("ready")
app.exec()
