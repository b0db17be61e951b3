"""The error raised for anything SQL Server would answer with an error message."""


class TsqlError(Exception):
    def __init__(self, number, message, severity=16, state=1, abort=False, line=None):
        super().__init__(message)
        self.number = number
        self.message = message
        self.severity = severity
        self.state = state
        self.abort = abort      # True: the rest of the batch is not run
        self.line = line
        self.proc = ''


def syntax_error(near, keyword=False, line=None):
    if keyword:
        return TsqlError(156, "Incorrect syntax near the keyword '%s'." % near, 15, line=line)
    return TsqlError(102, "Incorrect syntax near '%s'." % near, 15, line=line)


def unsupported(what, line=None):
    return TsqlError(40000, "Not supported by the test server: %s." % what, 16, abort=True, line=line)
