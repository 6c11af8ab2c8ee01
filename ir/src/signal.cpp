// implemented by the codec change
