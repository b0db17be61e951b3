#pragma once
#include <QString>
#include <QWidget>

class QDateTimeEdit;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vireo {

// Offers a stored-procedure item for parameter entry. The first item opens at once; while a
// parameter window is open, later items wait and each opens in a freshly loaded window when the
// previous one is closed by the user (确定, 退出 or the close box). A window closed by the program
// (close() from elsewhere) discards the waiting items.
void openParameterWindow(const QString &key, const QString &treeName);

// Drops the items waiting for the parameter window.
void discardPendingParameterWindows();

// 参数设置: collects the values of a stored procedure's parameters and executes it.
class ParameterWindow : public QWidget {
    Q_OBJECT
public:
    explicit ParameterWindow(QWidget *parent = nullptr);
    ~ParameterWindow() override;

    // The open parameter window, if any.
    static ParameterWindow *instance();

    // Set in this order before the window is shown; read when it is first shown.
    QString itemCode;
    QString treeName;

    // Completeness of the required values; updates statusLabel and okButton.
    bool checkStatus();

    void initGrid();
    void loadParameters(const QString &scriptPath);
    void showTextEditor(QTableWidget *grid, QLineEdit *box);
    void showDateEditor(QTableWidget *grid, QDateTimeEdit *picker);

    // Column 4 of every data row, in row order.
    QStringList values() const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void load();
    void runProcedure();
    void hideEditors();
    void openEditor();
    void moveToNextRow();
    void writeBack(const QString &text);
    void dateWriteBack();
    bool textKeyPress(QKeyEvent *event);
    bool dateKeyPress(QKeyEvent *event);
    QString cellText(int row, int column) const;
    void showError(const QString &text);

    QLabel *itemNameLabel;
    QLabel *statusLabel;
    QTableWidget *parameterGrid;
    QLabel *skippedLabel;
    QLineEdit *textEditor;
    QDateTimeEdit *dateEditor;
    QPushButton *okButton;
    QPushButton *exitButton;

    bool m_loaded = false;
    bool m_userClose = false;
    int m_editRow = -1;   // the row the open editor writes into
    bool m_executing = false;
    quint64 m_job = 0;          // the worker's number of the Exec job   // the procedure's statement is running on the worker
};

} // namespace vireo
