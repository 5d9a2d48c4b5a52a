// Placeholder: this layer's sources replace it.
