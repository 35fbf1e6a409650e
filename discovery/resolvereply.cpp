// placeholder: filled in by the work on ResolveReply
