"""A Qt application for the X11 tests: Qt's own clipboard and key handling, through PyQt5.

    qt_app.py editor TEXT   a focused text field holding TEXT, all of it selected; prints
                            "ready" once shown, then "text HEX" (UTF-8, hex) after each change
    qt_app.py image         copies a 3840x2160 image as a Qt application does (QClipboard's
                            setImage: Qt then offers it in every encoding it can write, made
                            when asked); prints "copied", then serves it until killed
"""

import sys

from PyQt5.QtGui import QColor, QImage, QPainter, QLinearGradient
from PyQt5.QtWidgets import QApplication, QPlainTextEdit


def photo_like(width, height):
    # Gradients and shapes, as a screenshot or photo has: neither all noise nor all flat.
    image = QImage(width, height, QImage.Format_RGB32)
    painter = QPainter(image)
    gradient = QLinearGradient(0, 0, width, height)
    gradient.setColorAt(0, QColor(30, 90, 160))
    gradient.setColorAt(1, QColor(240, 200, 120))
    painter.fillRect(0, 0, width, height, gradient)
    for i in range(400):
        painter.setPen(QColor((i * 37) % 256, (i * 91) % 256, (i * 53) % 256))
        painter.drawEllipse((i * 997) % width, (i * 613) % height, 40 + i % 300, 30 + i % 200)
        painter.drawText((i * 389) % width, (i * 241) % height, "deskagent %d" % i)
    painter.end()
    return image


def main():
    app = QApplication(sys.argv)
    if sys.argv[1] == "image":
        app.clipboard().setImage(photo_like(3840, 2160))
        print("copied", flush=True)
    else:
        field = QPlainTextEdit()
        field.setPlainText(sys.argv[2])
        field.selectAll()
        field.textChanged.connect(
            lambda: print("text", field.toPlainText().encode().hex(), flush=True))
        field.resize(400, 200)
        field.show()
        print("ready", flush=True)
    app.exec_()


main()
