# Nil punning for entity properties. Reading an unset (nil or false)
# property of an ORB::OpenEntity arms that value: the next call on it that
# nil or false does not understand is handled here instead of raising.
# Assigning through it creates the missing entity under the property (so
# `args.state.player.x = 10` works on a fresh state); arithmetic on it is
# suppressed with a warning, counted per entity and method, and raises once
# a game keeps doing it.
#
# Only one value is armed at a time, and arming is three variable writes:
# reading unset properties every tick allocates nothing. The counters Hash
# of an entity is made the first time a call on one of its nils is
# suppressed.
module NilClassFalseClass
  OPERATORS = { :+ => true, :- => true, :* => true, :/ => true }.freeze
  COUNTERS_KEY = :__thrash_count__
  THRASH_WARNING_AT = 4
  THRASH_LIMIT = 5
  TRACE_HINT = "To track method invocations on ~nil~, add $orb.trace_nil_punning! in =main.rb=.\n".freeze

  # Answered by pun! when the call is an ordinary missing method.
  NOT_HANDLED = Object.new.freeze

  @armed_hash = nil
  @armed_name = nil
  @armed_entity = nil

  class << self
    attr_reader :armed_hash, :armed_name, :armed_entity

    def arm!(hash, name, entity = nil)
      @armed_hash = hash
      @armed_name = name
      @armed_entity = entity
      nil
    end

    def disarm!
      @armed_hash = nil
      @armed_name = nil
      @armed_entity = nil
      nil
    end

    def armed?
      !@armed_hash.nil?
    end

    # True while value is what the armed property still holds. A nil that
    # merely happens to be around after the property was set is not armed:
    # calls on it fail as they would without punning.
    def armed_for?(value)
      hash = @armed_hash
      !hash.nil? && hash[@armed_name].equal?(value)
    end

    # Handles method m called with args (and block) on the armed value.
    def pun!(value, m, args, block)
      hash = @armed_hash
      name = @armed_name
      entity = @armed_entity || hash
      if block || args.length > 2 || OPERATORS[m]
        counters = hash[COUNTERS_KEY]
        count = counters.is_a?(Hash) ? counters[m] : nil
        if count.nil? || count == 0
          __log_warn__(first_use_warning(m, name, entity, args))
        end
        disarm!
        check_thrash!(hash, name, entity, m, args)
        return nil
      end
      disarm!
      if m == name || m.to_s == "#{name}="
        hash[name] = args[0]
        return args[0]
      end
      if m == :[]
        key = args[0]
        raise array_indexor_error(name, key) if key.is_a?(Symbol)
        __log_error__(ambiguous_indexor_message(name, key))
        return NOT_HANDLED
      end
      created = ORB::OpenEntity.new(name)
      hash[name] = created
      created.__send__(m, *args)
    end

    # Counts a suppressed call of m in the entity's counters: a warning at
    # the fourth, an error above the fifth.
    def check_thrash!(hash, name, entity, m, args)
      return nil if m == :[] || m == :[]=
      counters = hash[COUNTERS_KEY]
      unless counters.is_a?(Hash)
        counters = {}
        hash[COUNTERS_KEY] = counters
      end
      count = (counters[m] || 0) + 1
      counters[m] = count
      if count == THRASH_WARNING_AT
        __log_warn__(thrash_warning(m, name, args))
      elsif count > THRASH_LIMIT
        disarm!
        raise thrash_error(m, name, entity)
      end
      nil
    end

    def first_use_warning(m, name, entity, args)
      "* Warning: Method invoked on nil.\n" \
        "The method ~#{m}~ was invoked on ~#{name}~ within args.state, but ~#{name}~ has\n" \
        "a value of nil.\n" \
        "Here are the details:\n" \
        "object:\n#{__text_of__(entity)}\n" \
        "member: #{m}\n" \
        "attribute: #{name}\n" \
        "args: #{__text_of__(args)}\n" \
        "Set a default value for this property or you might get an exception later on.\n" \
        "#{__call_stack__}" \
        "#{TRACE_HINT}"
    end

    def thrash_warning(m, name, args)
      "* WARNING: Method invocation on a nil value detected.\n" \
        "The method ~#{m}~ with args #{__text_of__(args)} was invoked on ~#{name}~ within args.state, but ~#{name}~ has a\n" \
        "value of nil (the invocation of ~#{m}~ was suppressed). Consider setting\n" \
        "a default value for ~#{name}~ to avoid null reference exceptions later on.\"\n" \
        "#{__call_stack__}" \
        "#{TRACE_HINT}"
    end

    def thrash_error(m, name, entity)
      "* ERROR:\n" \
        "The method ~#{m}~ was invoked on ~#{name}~ within args.state, but ~#{name}~ has\n" \
        "a value of nil. The temporary coersion of this nil value, has reached it's\n" \
        "invocation limit (you've called this function a lot and should probably\n" \
        "set a default value for ~#{name}~).\n" \
        "Here is the details:\n" \
        "object:\n#{__text_of__(entity)}\n" \
        "member: [#{m}]\n" \
        "attribute: [#{name}].\n" \
        "Set a default value for this property.\n"
    end

    def array_indexor_error(name, key)
      "* ERROR: Access using ~[] (array indexor)~ on uninitialized Entities is disallowed.\n" \
        "The property ~#{name}~ has no value yet, so ~[#{key.inspect}]~ cannot be read from it.\n" \
        "Initialize the parent before indexing into it, for example:\n" \
        "  args.state.#{name} ||= {}\n" \
        "or\n" \
        "  args.state.#{name} ||= args.state.new_entity(:#{name})\n"
    end

    def ambiguous_indexor_message(name, key)
      "* ERROR: Ambiguous indexor invocation.\n" \
        "~[#{key.inspect}]~ was invoked on ~#{name}~, which has no value yet. Initialize it first\n" \
        "with the kind of value you mean to index, for example:\n" \
        "  args.state.#{name} ||= []\n" \
        "  args.state.#{name} ||= {}\n" \
        "  args.state.#{name} ||= args.state.new_entity(:#{name})\n"
    end

    # The game's frames that led to the call, one line each, prefixed "** ".
    def __call_stack__
      lines = caller(0) || []
      out = ""
      lines.each do |line|
        next if line.start_with?("forge/nil_class_false_class.rb")
        out << "** " << line << "\n"
      end
      out
    end

    # Entities may be large or refer to themselves; a warning must not fail.
    def __text_of__(value)
      value.inspect
    rescue Exception => e
      "(#{value.class}: could not be printed: #{e.message})"
    end

    def __log_warn__(text)
      ORB::Log.warn(text)
    end

    def __log_error__(text)
      ORB::Log.error(text)
    end
  end

  def method_missing(m, *args, &block)
    if NilClassFalseClass.armed_for?(self)
      result = NilClassFalseClass.pun!(self, m, args, block)
      return result unless NilClassFalseClass::NOT_HANDLED.equal?(result)
    end
    super
  end

  def __check_thrash__!(m, args)
    return nil unless NilClassFalseClass.armed_for?(self)
    mod = NilClassFalseClass
    mod.check_thrash!(mod.armed_hash, mod.armed_name, mod.armed_entity || mod.armed_hash, m, args)
  end
end

class NilClass
  include NilClassFalseClass
end

class FalseClass
  include NilClassFalseClass
end
