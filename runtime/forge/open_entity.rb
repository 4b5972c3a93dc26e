# ORB::OpenEntity: the default `args.state`, a bag of properties kept in one
# Hash. A property is read or written by name; the first call of a name
# goes through method_missing, which defines a reader or writer for it on
# the class, so every later call of that name (on any entity) is a plain
# method call. Unset properties read as nil and arm nil punning (see
# NilClassFalseClass).
module ORB
  class OpenEntity
    include Geometry

    attr_accessor :__touched__, :__contains_array_indexers__

    RESERVED_KEYS = { entity_id: true, entity_type: true, __thrash_count__: true, entity_name: true,
                      created_at: true, global_created_at: true }.freeze
    OPERATORS = { :+ => true, :- => true, :* => true, :/ => true }.freeze
    # Shared by every entity until save data gives one its own.
    NO_REFS = {}.freeze

    ARRAY_INDEXERS_NOTE = "* IMPORTANT:\n" \
                          "This dynamic entity contains array indexers. You may want to use attributes instead of the hash function to exclude reserved keys which are not numeric.\n" \
                          "\n".freeze
    HASH_RENAMED_WARNING = "* WARNING:\n" \
                           "Entity#hash has been renamed to Entity#as_hash so as not to clober Object#hash. If you get a weird exception later on, this may end up being why (since now this function returns a fixnum and not a dictionary).\n".freeze
    ATTRIBUTES_ERROR = "* ERROR: You cannot use the property ~attributes~ for an object under ~args.state~ because it would overwrite ~Object::attributes~. Please pick a different property name.".freeze

    def initialize(name = nil)
      @hash = { entity_id: Entity.id!, entity_keys_by_ref: NO_REFS }
      @hash[:entity_name] = name if name
      @__touched__ = false
      @__contains_array_indexers__ = false
      OpenEntity.__trace_new__ if $trace_nil_punning
    end

    def as_hash
      if @__contains_array_indexers__
        Entity.__log_once__(:entity_contains_array_indexers, ORB::Log::LEVEL_INFO, ARRAY_INDEXERS_NOTE)
      end
      @hash
    end

    # The property Hash for the runtime's own use (no notes logged).
    def __hash__
      @hash
    end

    def entity_id
      @hash[:entity_id]
    end

    def [](key)
      value = @hash[key]
      NilClassFalseClass.arm!(@hash, key, self) unless value
      value
    end

    def []=(key, value)
      @__contains_array_indexers__ = true if key.is_a?(Integer) && @hash[key].nil?
      @hash[key] = value
    end

    # key may be a list of keys: the path is created with new entities where
    # it does not exist yet.
    def set!(key, value)
      return @hash[key] = value unless key.is_a?(Array)
      return nil if key.empty?
      target = self
      last = key.length - 1
      i = 0
      while i < last
        k = key[i]
        container = target.is_a?(OpenEntity) ? target.__hash__ : target
        nxt = container[k]
        unless nxt
          nxt = OpenEntity.new(k)
          container[k] = nxt
        end
        target = nxt
        i += 1
      end
      container = target.is_a?(OpenEntity) ? target.__hash__ : target
      container[key[last]] = value
    end

    def attributes
      result = {}
      @hash.each { |k, v| result[k] = v unless RESERVED_KEYS[k] }
      result
    end

    def attributes=(_value)
      raise ATTRIBUTES_ERROR
    end

    def merge(*others)
      result = @hash.dup
      others.each { |o| result.merge!(o.is_a?(OpenEntity) ? o.__hash__ : o) }
      result
    end

    def clear!
      @hash.clear
      self
    end

    def new_entity(entity_type, init_hash = nil, &block)
      Entity.new_entity(entity_type, init_hash, &block)
    end

    def new_entity_strict(entity_type, init_hash = nil, &block)
      Entity.new_entity_strict(entity_type, init_hash, &block)
    end

    def created_at_elapsed
      created = @hash[:created_at]
      created.is_a?(Numeric) ? Kernel.tick_count - created : nil
    end

    def global_created_at_elapsed
      created = @hash[:global_created_at]
      created.is_a?(Numeric) ? Kernel.global_tick_count - created : nil
    end

    def old?
      lifetime = @hash[:lifetime]
      return false unless lifetime.is_a?(Numeric)
      elapsed = created_at_elapsed
      return false if elapsed.nil?
      elapsed > lifetime
    end

    def new?(tick_count_override = nil)
      created_at_elapsed == (tick_count_override || Kernel.tick_count)
    end

    def ==(other)
      return true if equal?(other)
      return other == @hash[:entity_id] if other.is_a?(Numeric)
      nil
    end

    def hash
      Entity.__log_once__(:hash_renamed_to_as_hash, ORB::Log::LEVEL_WARN, HASH_RENAMED_WARNING)
      super
    end

    def to_s
      @hash.to_s
    end

    def inspect
      @hash.inspect
    end

    def serialize
      @hash
    end

    def method_missing(name, *args, &block)
      return super if block || args.length > 2 || OPERATORS[name]
      text = name.to_s
      last = text[-1]
      return super if last == "!" || last == "?"
      if args.empty?
        OpenEntity.__define_reader__(name)
        return __send__(name)
      end
      if args.length == 1 && last == "="
        OpenEntity.__define_writer__(name, text[0, text.length - 1].to_sym)
        return __send__(name, args[0])
      end
      nil
    end

    def respond_to_missing?(_name, _include_all = false)
      false
    end

    class << self
      def __define_reader__(name)
        define_method(name) do
          @__touched__ = true
          value = @hash[name]
          NilClassFalseClass.arm!(@hash, name, self) unless value || $nil_punning_disabled
          value
        end
      end

      def __define_writer__(name, key)
        define_method(name) do |value|
          @__touched__ = true
          NilClassFalseClass.disarm! if value.nil? && !$nil_punning_disabled
          @hash[key] = value
        end
      end

      def __trace_new__
        stack = (caller(2) || []).map { |line| "** #{line}" }.join("\n")
        ORB::Log.info("* INFO: OpenEntity#new invocation occurred (trace_nil_punning!)\n#{stack}")
      end
    end
  end
end
