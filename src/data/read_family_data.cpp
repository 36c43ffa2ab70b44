// Placeholder: implementation lands with its module.
