// paging subsystem: translation unit kept so the object library is never empty.
