// placeholder: filled in by the work on BonjourThread
